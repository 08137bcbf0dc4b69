#pragma once

// What an upload run reads and writes of its progress bar.
class UploadProgress {
public:
    virtual ~UploadProgress() = default;
    virtual void setMaximum(int maximum) = 0;
    virtual int value() const = 0;
    virtual void setValue(int value) = 0;
};
