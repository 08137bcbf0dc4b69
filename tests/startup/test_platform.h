#pragma once

#include "common/platform.h"

// A platform whose folder, names and printers a test chooses; installed while it lives.
class TestPlatform final : public Platform {
public:
    TestPlatform() { Platform::install(this); }
    ~TestPlatform() override { Platform::install(nullptr); }
    TestPlatform(const TestPlatform&) = delete;
    TestPlatform& operator=(const TestPlatform&) = delete;

    QString programFolder() const override { return folder; }
    QString computerName() const override { return computer; }
    QString userName() const override { return user; }
    QStringList installedPrinters() const override { return printers; }

    QString folder;
    QString computer = QStringLiteral("PUESTO1");
    QString user = QStringLiteral("recepcion");
    QStringList printers;
};
