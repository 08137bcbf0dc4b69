// The main() of a fuzz target in the normal build, where libFuzzer is not linked: runs the target
// once over every file of the folders (or the files) given, in name order, and prints how many
// inputs ran. A crash ends the process as it would under the fuzzer; an exception that leaves the
// target (a broken property or a failure the target does not expect) is reported with the input's
// name and fails the run. No input at all fails it too: a corpus that went missing proves nothing.

#include "common/failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <cstdio>
#include <exception>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv)
{
    QFileInfoList inputs;
    for (int i = 1; i < argc; ++i) {
        const QFileInfo given(QString::fromLocal8Bit(argv[i]));
        if (given.isDir())
            inputs += QDir(given.filePath()).entryInfoList(QDir::Files, QDir::Name);
        else if (given.isFile())
            inputs.append(given);
        else
            std::fprintf(stderr, "%s: no such file or folder\n", argv[i]);
    }

    int ran = 0;
    int failed = 0;
    for (const QFileInfo& input : std::as_const(inputs)) {
        QFile file(input.filePath());
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(input.filePath()), qPrintable(file.errorString()));
            ++failed;
            continue;
        }
        const QByteArray bytes = file.readAll();
        ++ran;
        try {
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size()));
        } catch (const Failure& failure) {
            std::fprintf(stderr, "%s: failure %d (%s): %s\n", qPrintable(input.filePath()), failure.number,
                         qPrintable(failure.source), qPrintable(failure.description));
            ++failed;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(input.filePath()), e.what());
            ++failed;
        } catch (...) {
            std::fprintf(stderr, "%s: unknown exception\n", qPrintable(input.filePath()));
            ++failed;
        }
    }
    std::printf("%d inputs ran, %d failed\n", ran, failed);
    return ran == 0 || failed > 0 ? 1 : 0;
}
