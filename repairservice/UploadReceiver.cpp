#include "UploadReceiver.h"

#include <httplib.h>

#include "TemporaryFile.h"

namespace repairservice {
namespace {

constexpr const char* kFilePart = "file";

class Receiver {
public:
    Receiver(TemporaryFile& file, std::size_t maxBytes, const UploadProgress& progress)
        : file(file), maxBytes(maxBytes), progress(progress)
    {
    }

    bool PartStarts(const httplib::MultipartFormData& part)
    {
        inFilePart = part.name == kFilePart && !sawFilePart;
        sawFilePart = sawFilePart || inFilePart;
        return true;
    }

    bool Bytes(const char* data, std::size_t size, bool keep)
    {
        received += size;
        progress(received);
        if (received > maxBytes) {
            outcome = UploadOutcome::TooLarge;
            return false;
        }
        if (keep && !file.Append(data, size)) {
            outcome = UploadOutcome::StoreFailed;
            return false;
        }
        return true;
    }

    UploadOutcome Read(const httplib::Request& request, const httplib::ContentReader& reader)
    {
        bool complete = request.is_multipart_form_data()
            ? reader([this](const httplib::MultipartFormData& part) { return PartStarts(part); },
                     [this](const char* data, std::size_t size) { return Bytes(data, size, inFilePart); })
            : reader([this](const char* data, std::size_t size) { return Bytes(data, size, false); });
        if (outcome != UploadOutcome::Received)
            return outcome;
        if (!complete)
            return UploadOutcome::Unreadable;
        return sawFilePart ? UploadOutcome::Received : UploadOutcome::NoFilePart;
    }

private:
    TemporaryFile& file;
    const std::size_t maxBytes;
    const UploadProgress& progress;
    std::size_t received = 0;
    bool inFilePart = false;
    bool sawFilePart = false;
    UploadOutcome outcome = UploadOutcome::Received;
};

} // namespace

void DropUpload(const httplib::Request& request, const httplib::ContentReader& reader)
{
    std::size_t dropped = 0;
    auto drop = [&dropped](const char*, std::size_t size) {
        dropped += size;
        return dropped <= kDroppedAtMost;
    };
    // The library hands a form's body over only part by part.
    if (request.is_multipart_form_data())
        reader([](const httplib::MultipartFormData&) { return true; }, drop);
    else
        reader(drop);
}

UploadOutcome ReceiveUpload(const httplib::Request& request, const httplib::ContentReader& reader, TemporaryFile& file,
                            std::size_t maxBytes, const UploadProgress& progress)
{
    return Receiver(file, maxBytes, progress).Read(request, reader);
}

} // namespace repairservice
