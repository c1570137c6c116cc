#include "runtime/files.h"

#include <vector>

#include "runtime/io_result.h"

namespace {

/// Every file opened as input in this run, open or closed since.
std::vector<platform::FileIdentity> InputFiles;

bool IsStandardStreamFile(const platform::FileIdentity& file) {
  for (platform::StandardHandle which : {platform::StdOutputHandle, platform::StdErrorHandle}) {
    platform::FileIdentity stream{};
    platform::Handle handle = platform::GetStdHandle(which);
    if (handle != platform::InvalidHandleValue &&
        platform::GetFileInformationByHandle(handle, &stream) &&
        platform::IsSameFile(stream, file)) {
      return true;
    }
  }
  return false;
}

bool IsInputFile(const platform::FileIdentity& file) {
  for (const platform::FileIdentity& input : InputFiles) {
    if (platform::IsSameFile(input, file)) return true;
  }
  return false;
}

/// True for a file that no output may be: an input of this run, or what a
/// standard stream writes to.
bool MustNotOverwrite(const platform::FileIdentity& file) {
  return !file.IsCharDevice && (IsInputFile(file) || IsStandardStreamFile(file));
}

bool NameDesignates(const std::string& name, const platform::FileIdentity& file) {
  platform::FileIdentity named{};
  return platform::QueryFileIdentity(name.c_str(), &named) && platform::IsSameFile(named, file);
}

/// Refuses a name that is no file name without asking the system, which
/// would open or create another file (or, on Windows, refuse it itself).
bool RefuseUnlessFileName(const std::string& name) {
  if (IsFileName(name)) return false;
  SetIOResult(platform::ErrorInvalidName);
  return true;
}

}  // namespace

bool IsFileName(const std::string& name) { return name.find('"') == std::string::npos; }

platform::Handle OpenInputFile(const std::string& name, std::uint32_t access, std::uint32_t share) {
  if (RefuseUnlessFileName(name)) return platform::InvalidHandleValue;
  platform::Handle handle =
      platform::CreateFileA(name.c_str(), access, share, platform::OpenExisting);
  if (handle == platform::InvalidHandleValue) {
    RecordSystemError();
    return handle;
  }
  // A handle that cannot tell its file (a pipe on some systems) is no file
  // an output could empty.
  platform::FileIdentity file{};
  if (platform::GetFileInformationByHandle(handle, &file) && !IsInputFile(file)) {
    InputFiles.push_back(file);
  }
  return handle;
}

platform::Handle CreateOutputFile(const std::string& name, std::uint32_t access,
                                  std::uint32_t share, std::uint32_t& type) {
  if (RefuseUnlessFileName(name)) return platform::InvalidHandleValue;
  platform::SetLastError(0);
  platform::Handle handle =
      platform::CreateFileA(name.c_str(), access, share, platform::OpenAlways);
  if (handle == platform::InvalidHandleValue) {
    RecordSystemError();
    return handle;
  }
  const bool existed = platform::GetLastError() == platform::ErrorAlreadyExists;
  platform::FileIdentity file{};
  const bool identified = platform::GetFileInformationByHandle(handle, &file);
  const auto identityError = static_cast<std::int32_t>(platform::GetLastError());
  type = platform::GetFileType(handle);
  std::int32_t failure = 0;
  if (type == platform::FileTypeUnknown) {
    failure = FileNotOpenForOutput;
  } else if (identified) {
    // A file that this open created is new, so it is none of the others.
    if (existed && MustNotOverwrite(file)) failure = platform::ErrorSharingViolation;
  } else if (type == platform::FileTypeDisk) {
    // A disk file that cannot tell which file it is could be any of them.
    failure = identityError;
  }
  // Only now, with the handle final, is the old content cut off.
  if (failure == 0 && type == platform::FileTypeDisk && !platform::SetEndOfFile(handle)) {
    failure = static_cast<std::int32_t>(platform::GetLastError());
  }
  if (failure == 0) return handle;
  platform::CloseHandle(handle);
  // A file this open made goes again, unless its name has come to designate
  // another file meanwhile.
  if (!existed && (!identified || NameDesignates(name, file))) {
    platform::DeleteFileA(name.c_str());
  }
  SetIOResult(failure);
  return platform::InvalidHandleValue;
}

bool OutputNameIsTaken(const std::string& output, const std::string& input) {
  std::uint32_t saved = platform::GetLastError();
  platform::FileIdentity target{};
  bool taken =
      platform::QueryFileIdentity(output.c_str(), &target) &&
      (MustNotOverwrite(target) || (!target.IsCharDevice && NameDesignates(input, target)));
  platform::SetLastError(saved);
  return taken;
}
