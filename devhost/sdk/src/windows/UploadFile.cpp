#include "../UploadFile.h"

#include <windows.h>

#include <fmt/format.h>

namespace devhost {
namespace {

std::wstring WideFromAnsi(const std::string& text)
{
    int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

HANDLE AsHandle(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

} // namespace

std::unique_ptr<UploadFile> UploadFile::Open(const std::string& path, std::string& error)
{
    // Shared for everything, so the player's tools (and the plugin's later move) are never locked out.
    HANDLE file =
        CreateFileW(WideFromAnsi(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = fmt::format("cannot open {}: Windows error {}", path, GetLastError());
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info)
        || (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
        error = fmt::format("{} is not a regular file", path);
        CloseHandle(file);
        return nullptr;
    }
    std::uint64_t size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    return std::unique_ptr<UploadFile>(new UploadFile(reinterpret_cast<std::intptr_t>(file), size));
}

UploadFile::~UploadFile()
{
    CloseHandle(AsHandle(handle));
}

std::ptrdiff_t UploadFile::Read(char* buffer, std::size_t count)
{
    DWORD got = 0;
    DWORD wanted = count > MAXDWORD ? MAXDWORD : static_cast<DWORD>(count);
    if (!ReadFile(AsHandle(handle), buffer, wanted, &got, nullptr))
        return -1;
    return static_cast<std::ptrdiff_t>(got);
}

bool UploadFile::Seek(std::uint64_t offset)
{
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(AsHandle(handle), position, nullptr, FILE_BEGIN) != 0;
}

} // namespace devhost
