// The one fake of the operating system behind `platform::Calls`, shared by
// the unit tests, the fuzz targets and the benchmarks: files held in memory
// by name, the three standard handles, a command line and a module path, a
// log of every request served, faults on the n-th call of a kind, and an
// exit that throws `FakeSystem::Exit` back to the caller instead of ending
// the process. Header-only and free of the test libraries, like
// scoped_table.h, so that fuzz targets and benchmarks use it as they are
// built.
//
// A FakeSystem replaces every entry of the table while it lives and puts the
// table back when it goes; one lives at a time. It behaves as the backends
// are documented to in platform/platform.h:
//  - a file is a name, its bytes and its device type (a disk file unless
//    said otherwise); a handle reads and writes at its own position, as far
//    as its access allows, and keeps its file when the name is deleted;
//  - `CreateFileA` opens an existing name (`OpenExisting`, else error 2) or
//    makes it (`OpenAlways`, leaving 183 in the last error when the name
//    existed and 0 when it did not);
//  - standard input, output and error are the files `StandardInput`,
//    `StandardOutput` and `StandardError`, character devices unless a test
//    says otherwise, open from the start;
//  - a file's identity follows its name for the whole process, as the
//    runtime remembers the inputs it opened for the whole process: creating
//    over an existing file that an earlier fake opened as input is refused,
//    as it would be in one run of a program;
//  - a call on a handle that is not open fails with error 6;
//  - `GetModuleHandleA` is the one call passed on to the saved table: the
//    program's own base address, which addresses in reports count from.
#pragma once

#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "tests/scoped_table.h"

class FakeSystem {
 public:
  /// The entries of the table, by which calls are logged and made to fail.
  enum class Call {
    GetCommandLineA,
    GetArgumentAsGiven,
    GetModuleFileNameA,
    GetStdHandle,
    GetFileType,
    CreateFileA,
    ReadFile,
    WriteFile,
    GetFileSizeEx,
    SetEndOfFile,
    CloseHandle,
    DeleteFileA,
    GetFileInformationByHandle,
    QueryFileIdentity,
    MessageBeep,
    MessageBoxA,
    SetUnhandledExceptionFilter,
    GetModuleHandleA,
    ExitProcess,
    Count  // how many there are
  };

  /// One call served, as the log keeps it.
  struct Request {
    Request() = default;
    explicit Request(Call kind, std::string name = {},
                     platform::Handle handle = platform::InvalidHandleValue)
        : Kind(kind), Name(std::move(name)), Handle(handle) {}

    Call Kind = Call::Count;
    /// The file's name: as given (`CreateFileA`, `DeleteFileA`,
    /// `QueryFileIdentity`), else the name the handle was opened with (empty
    /// for a handle the fake does not know); `MessageBoxA`'s caption.
    std::string Name;
    /// The handle the call was made on, or the one it gave
    /// (`CreateFileA`, `GetStdHandle`).
    platform::Handle Handle = platform::InvalidHandleValue;
    /// `CreateFileA`'s arguments.
    std::uint32_t Access = 0;
    std::uint32_t Share = 0;
    std::uint32_t Disposition = 0;
    /// `GetStdHandle`: which handle; `GetFileType`: the type given;
    /// `MessageBeep`, `MessageBoxA`: the type; `ExitProcess`: the status.
    std::uint32_t Value = 0;
    /// `ReadFile`, `WriteFile`: the handle's position before the call, the
    /// bytes asked for and the bytes moved.
    std::uint64_t Position = 0;
    std::uint64_t Count = 0;
    std::uint64_t Done = 0;
    /// `WriteFile`: every byte it was asked to write; `MessageBoxA`: the text.
    std::string Bytes;
    /// The last error the call left when it failed; 0 when it succeeded.
    std::uint32_t Error = 0;
    bool Succeeded() const { return Error == 0; }
  };

  /// Thrown by `ExitProcess`: the program's end, caught by the caller.
  struct Exit {
    std::uint32_t Status;
  };

  static constexpr char StandardInput[] = "<stdin>";
  static constexpr char StandardOutput[] = "<stdout>";
  static constexpr char StandardError[] = "<stderr>";

  /// For `Fail`: every call of the kind from the n-th on.
  static constexpr int Always = INT_MAX;

  /// What `GetCommandLineA` and `GetModuleFileNameA` give.
  std::string CommandLine = "program";
  std::string ModulePath = "program";
  /// Whether requests are logged; a benchmark turns this off, so that it
  /// measures the code above the table and not the log.
  bool KeepLog = true;

  FakeSystem() {
    if (current_ != nullptr) std::abort();  // one fake at a time
    current_ = this;
    for (const char* name : {StandardInput, StandardOutput, StandardError}) {
      AddFile(name, "", platform::FileTypeChar);
      const bool input = handles_.empty();
      handles_.push_back(
          OpenFile{files_[name], name, input ? platform::GenericRead : platform::GenericWrite});
    }
    // Every entry by name: GCC's -Wextra tells of one the table gains.
    platform::Calls = platform::CallTable{
        .GetCommandLineA = GetCommandLineA,
        .GetArgumentAsGiven = GetArgumentAsGiven,
        .GetModuleFileNameA = GetModuleFileNameA,
        .GetStdHandle = GetStdHandle,
        .GetFileType = GetFileType,
        .CreateFileA = CreateFileA,
        .ReadFile = ReadFile,
        .WriteFile = WriteFile,
        .GetFileSizeEx = GetFileSizeEx,
        .SetEndOfFile = SetEndOfFile,
        .CloseHandle = CloseHandle,
        .DeleteFileA = DeleteFileA,
        .GetFileInformationByHandle = GetFileInformationByHandle,
        .QueryFileIdentity = QueryFileIdentity,
        .MessageBeep = MessageBeep,
        .MessageBoxA = MessageBoxA,
        .SetUnhandledExceptionFilter = SetUnhandledExceptionFilter,
        .GetModuleHandleA = GetModuleHandleA,
        .ExitProcess = ExitProcess,
    };
  }
  ~FakeSystem() { current_ = nullptr; }
  FakeSystem(const FakeSystem&) = delete;
  FakeSystem& operator=(const FakeSystem&) = delete;

  /// Puts the file `name` in with `bytes` and device type `type`; a file of
  /// that name already there takes them in place, for every handle open on it.
  void AddFile(const std::string& name, std::string bytes = {},
               std::uint32_t type = platform::FileTypeDisk) {
    std::shared_ptr<File>& file = files_[name];
    if (!file) file = std::make_shared<File>();
    file->Bytes = std::move(bytes);
    file->Type = type;
    file->Index = IdentityIndex(name);
  }

  /// The bytes of the file `name`; empty when there is no such file.
  std::string Contents(const std::string& name) const {
    auto found = files_.find(name);
    return found == files_.end() ? std::string() : found->second->Bytes;
  }

  /// Makes `times` calls of `kind` fail with `code`, from the `nth` from now
  /// on (1: the next one).
  void Fail(Call kind, int nth, std::uint32_t code, int times = 1) {
    AddFault(kind, nth, times, code, 0);
  }

  /// Makes the `nth` `ReadFile` or `WriteFile` from now on (1: the next one)
  /// move `by` bytes fewer than asked, and succeed.
  void Shorten(Call kind, int nth, std::uint64_t by) { AddFault(kind, nth, 1, 0, by); }

  /// Every request served since the fake began or the log was cleared.
  const std::vector<Request>& Log() const { return log_; }
  void ClearLog() { log_.clear(); }

  /// The logged requests of one kind, in order.
  std::vector<Request> Requests(Call kind) const {
    std::vector<Request> out;
    for (const Request& request : log_) {
      if (request.Kind == kind) out.push_back(request);
    }
    return out;
  }

 private:
  struct File {
    std::string Bytes;
    std::uint32_t Type = platform::FileTypeDisk;
    std::uint64_t Index = 0;
  };
  struct OpenFile {
    std::shared_ptr<File> Target;
    std::string Name;
    std::uint32_t Access = 0;
    std::uint64_t Position = 0;
    bool IsOpen = true;
  };
  struct Fault {
    Call Kind;
    std::uint64_t First;  // counted from the fake's start
    std::uint64_t Last;
    std::uint32_t Code;
    std::uint64_t ShortBy;
  };

  static constexpr platform::Handle FirstHandle = 0x100;
  static constexpr std::uint64_t Volume = 0xFA4E;

  /// The identity's index of a name: the same for the whole process.
  static std::uint64_t IdentityIndex(const std::string& name) {
    static std::map<std::string, std::uint64_t> indexes;
    return indexes.emplace(name, indexes.size() + 1).first->second;
  }

  static FakeSystem& Current() { return *current_; }

  void AddFault(Call kind, int nth, int times, std::uint32_t code, std::uint64_t shortBy) {
    const std::uint64_t first =
        calls_[static_cast<std::size_t>(kind)] + static_cast<std::uint64_t>(nth);
    const std::uint64_t last =
        times == Always ? UINT64_MAX : first + static_cast<std::uint64_t>(times) - 1;
    faults_.push_back(Fault{kind, first, last, code, shortBy});
  }

  /// Counts a call of `kind`; the fault that it meets, if any.
  const Fault* Meet(Call kind) {
    const std::uint64_t n = ++calls_[static_cast<std::size_t>(kind)];
    for (const Fault& fault : faults_) {
      if (fault.Kind == kind && fault.First <= n && n <= fault.Last) return &fault;
    }
    return nullptr;
  }

  /// The handle `handle`, open or closed since, or nullptr.
  OpenFile* Given(platform::Handle handle) {
    const platform::Handle at = handle - FirstHandle;
    if (at < 0 || at >= static_cast<platform::Handle>(handles_.size())) return nullptr;
    return &handles_[static_cast<std::size_t>(at)];
  }

  /// The open handle `handle`, or nullptr.
  OpenFile* Find(platform::Handle handle) {
    OpenFile* given = Given(handle);
    return given != nullptr && given->IsOpen ? given : nullptr;
  }

  /// Logs `request`, with `Name` from the handle when it has none, as
  /// failed with `error` unless that is 0.
  void Keep(Request request, std::uint32_t error) {
    request.Error = error;
    if (request.Name.empty()) {
      if (const OpenFile* given = Given(request.Handle)) request.Name = given->Name;
    }
    log_.push_back(std::move(request));
  }

  /// Leaves `error`, unless it is 0, as the last error, logs `request` and
  /// gives `result`.
  template <typename Result>
  Result Answer(Request request, std::uint32_t error, Result result) {
    if (error != 0) platform::SetLastError(error);
    if (KeepLog) Keep(std::move(request), error);
    return result;
  }
  bool Answer(Request request, std::uint32_t error) {
    return Answer(std::move(request), error, error == 0);
  }

  /// The error of a call on `handle` that needs `access` (0: none), else 0.
  std::uint32_t Refusal(const Fault* fault, const OpenFile* open, std::uint32_t access = 0) {
    if (fault != nullptr && fault->Code != 0) return fault->Code;
    if (open == nullptr) return platform::ErrorInvalidHandle;
    if ((open->Access & access) != access) return platform::ErrorAccessDenied;
    return 0;
  }

  /// Counts a call of `kind` on `handle` that needs `access` (0: none); the
  /// open handle, or nullptr, and the error that refuses the call, or 0.
  std::pair<OpenFile*, std::uint32_t> OnHandle(Call kind, platform::Handle handle,
                                               std::uint32_t access = 0) {
    const Fault* fault = Meet(kind);
    OpenFile* open = Find(handle);
    return {open, Refusal(fault, open, access)};
  }

  /// `ReadFile` and `WriteFile`; a request is made up only for the log, so
  /// that a benchmark without one measures little more than the copy.
  bool Transfer(Call kind, platform::Handle handle, char* to, const char* from, std::uint64_t count,
                std::uint64_t* done) {
    const Fault* fault = Meet(kind);
    OpenFile* open = Find(handle);
    const bool reading = kind == Call::ReadFile;
    const std::uint32_t error =
        Refusal(fault, open, reading ? platform::GenericRead : platform::GenericWrite);
    const std::uint64_t start = open != nullptr ? open->Position : 0;
    std::size_t moved = 0;
    if (error != 0) {
      platform::SetLastError(error);
    } else {
      std::string& bytes = open->Target->Bytes;
      const auto position = static_cast<std::size_t>(start);
      moved = static_cast<std::size_t>(count - (fault != nullptr ? fault->ShortBy : 0));
      if (reading) {
        moved = std::min(moved, bytes.size() - std::min(position, bytes.size()));
        if (moved > 0) std::memcpy(to, bytes.data() + position, moved);
      } else {
        if (bytes.size() < position + moved) bytes.resize(position + moved);
        if (moved > 0) std::memcpy(bytes.data() + position, from, moved);
      }
      open->Position += moved;
    }
    *done = moved;
    if (KeepLog) KeepTransfer(kind, handle, start, count, moved, reading ? nullptr : from, error);
    return error == 0;
  }

  /// Logs a transfer; out of line, so that the copy stays short.
  DICT_NOINLINE void KeepTransfer(Call kind, platform::Handle handle, std::uint64_t position,
                                  std::uint64_t count, std::uint64_t moved, const char* written,
                                  std::uint32_t error) {
    Request request{kind, {}, handle};
    request.Position = position;
    request.Count = count;
    request.Done = moved;
    if (written != nullptr) request.Bytes.assign(written, static_cast<std::size_t>(count));
    Keep(std::move(request), error);
  }

  bool Identify(Request request, const Fault* fault, const File* file,
                platform::FileIdentity* identity) {
    if (fault != nullptr && fault->Code != 0) return Answer(std::move(request), fault->Code);
    if (file == nullptr) {
      const bool byName = request.Kind == Call::QueryFileIdentity;
      return Answer(std::move(request),
                    byName ? platform::ErrorFileNotFound : platform::ErrorInvalidHandle);
    }
    *identity = platform::FileIdentity{Volume, file->Index, file->Type == platform::FileTypeChar};
    return Answer(std::move(request), 0);
  }

  // --- The entries of the table --------------------------------------------------

  /// Counts and logs a call that cannot fail; gives the fake.
  static FakeSystem& Notice(Call kind, std::uint32_t value = 0, const char* name = "",
                            const char* bytes = "") {
    FakeSystem& fake = Current();
    fake.Meet(kind);
    Request request{kind, name};
    request.Value = value;
    request.Bytes = bytes;
    fake.Answer(std::move(request), 0);
    return fake;
  }

  static const char* GetCommandLineA() { return Notice(Call::GetCommandLineA).CommandLine.c_str(); }
  static const char* GetArgumentAsGiven(std::int32_t index) {
    Notice(Call::GetArgumentAsGiven, static_cast<std::uint32_t>(index));
    return nullptr;
  }
  static std::uint32_t GetModuleFileNameA(char* buffer, std::uint32_t size) {
    const std::string& path = Notice(Call::GetModuleFileNameA).ModulePath;
    const std::uint32_t copied = std::min(size, static_cast<std::uint32_t>(path.size()));
    std::memcpy(buffer, path.data(), copied);
    if (copied < size) buffer[copied] = 0;
    return copied < size ? copied : size;
  }
  static platform::Handle GetStdHandle(platform::StandardHandle which) {
    FakeSystem& fake = Current();
    const Fault* fault = fake.Meet(Call::GetStdHandle);
    Request request{Call::GetStdHandle};
    request.Value = which;
    if (fault != nullptr || which > platform::StdErrorHandle) {
      return fake.Answer(std::move(request),
                         fault != nullptr ? fault->Code : platform::ErrorInvalidParameter,
                         platform::InvalidHandleValue);
    }
    const platform::Handle handle = FirstHandle + which;
    request.Handle = handle;
    return fake.Answer(std::move(request), 0, handle);
  }
  static std::uint32_t GetFileType(platform::Handle handle) {
    FakeSystem& fake = Current();
    const auto [open, error] = fake.OnHandle(Call::GetFileType, handle);
    Request request{Call::GetFileType, {}, handle};
    request.Value = error == 0 ? open->Target->Type : platform::FileTypeUnknown;
    const std::uint32_t type = request.Value;
    return fake.Answer(std::move(request), error, type);
  }
  static platform::Handle CreateFileA(const char* name, std::uint32_t access, std::uint32_t share,
                                      std::uint32_t disposition) {
    FakeSystem& fake = Current();
    const Fault* fault = fake.Meet(Call::CreateFileA);
    Request request{Call::CreateFileA, name};
    request.Access = access;
    request.Share = share;
    request.Disposition = disposition;
    const platform::Handle invalid = platform::InvalidHandleValue;
    if (fault != nullptr) return fake.Answer(std::move(request), fault->Code, invalid);
    auto found = fake.files_.find(name);
    const bool exists = found != fake.files_.end();
    if (disposition != platform::OpenExisting && disposition != platform::OpenAlways) {
      return fake.Answer(std::move(request), platform::ErrorInvalidParameter, invalid);
    }
    if (!exists && disposition == platform::OpenExisting) {
      return fake.Answer(std::move(request), platform::ErrorFileNotFound, invalid);
    }
    if (!exists) fake.AddFile(name);
    fake.handles_.push_back(OpenFile{fake.files_[name], name, access});
    request.Handle = FirstHandle + static_cast<platform::Handle>(fake.handles_.size()) - 1;
    const platform::Handle handle = request.Handle;
    fake.Answer(std::move(request), 0, handle);
    // Left after the log, which could otherwise change it.
    platform::SetLastError(
        exists && disposition == platform::OpenAlways ? platform::ErrorAlreadyExists : 0);
    return handle;
  }
  static bool ReadFile(platform::Handle handle, void* buffer, std::uint64_t count,
                       std::uint64_t* done) {
    return Current().Transfer(Call::ReadFile, handle, static_cast<char*>(buffer), nullptr, count,
                              done);
  }
  static bool WriteFile(platform::Handle handle, const void* buffer, std::uint64_t count,
                        std::uint64_t* done) {
    return Current().Transfer(Call::WriteFile, handle, nullptr, static_cast<const char*>(buffer),
                              count, done);
  }
  static bool GetFileSizeEx(platform::Handle handle, std::int64_t* size) {
    FakeSystem& fake = Current();
    const auto [open, error] = fake.OnHandle(Call::GetFileSizeEx, handle);
    if (error == 0) *size = static_cast<std::int64_t>(open->Target->Bytes.size());
    return fake.Answer(Request{Call::GetFileSizeEx, {}, handle}, error);
  }
  static bool SetEndOfFile(platform::Handle handle) {
    FakeSystem& fake = Current();
    const auto [open, error] = fake.OnHandle(Call::SetEndOfFile, handle, platform::GenericWrite);
    if (error == 0) {
      std::string& bytes = open->Target->Bytes;
      bytes.resize(std::min(bytes.size(), static_cast<std::size_t>(open->Position)));
    }
    return fake.Answer(Request{Call::SetEndOfFile, {}, handle}, error);
  }
  static bool CloseHandle(platform::Handle handle) {
    FakeSystem& fake = Current();
    const auto [open, error] = fake.OnHandle(Call::CloseHandle, handle);
    // Logged while the handle still names its file.
    const bool closed = fake.Answer(Request{Call::CloseHandle, {}, handle}, error);
    if (closed) open->IsOpen = false;
    return closed;
  }
  static bool DeleteFileA(const char* name) {
    FakeSystem& fake = Current();
    const Fault* fault = fake.Meet(Call::DeleteFileA);
    std::uint32_t error = fault != nullptr ? fault->Code : 0;
    if (error == 0 && fake.files_.erase(name) == 0) error = platform::ErrorFileNotFound;
    return fake.Answer(Request{Call::DeleteFileA, name}, error);
  }
  static bool GetFileInformationByHandle(platform::Handle handle,
                                         platform::FileIdentity* identity) {
    FakeSystem& fake = Current();
    const Fault* fault = fake.Meet(Call::GetFileInformationByHandle);
    const OpenFile* open = fake.Find(handle);
    return fake.Identify(Request{Call::GetFileInformationByHandle, {}, handle}, fault,
                         open != nullptr ? open->Target.get() : nullptr, identity);
  }
  static bool QueryFileIdentity(const char* name, platform::FileIdentity* identity) {
    FakeSystem& fake = Current();
    const Fault* fault = fake.Meet(Call::QueryFileIdentity);
    auto found = fake.files_.find(name);
    return fake.Identify(Request{Call::QueryFileIdentity, name}, fault,
                         found != fake.files_.end() ? found->second.get() : nullptr, identity);
  }
  static void MessageBeep(std::uint32_t type) { Notice(Call::MessageBeep, type); }
  static void MessageBoxA(const char* text, const char* caption, std::uint32_t type) {
    Notice(Call::MessageBoxA, type, caption, text);
  }
  static void SetUnhandledExceptionFilter(platform::ExceptionFilter) {
    Notice(Call::SetUnhandledExceptionFilter);
  }
  static std::uintptr_t GetModuleHandleA() {
    return Notice(Call::GetModuleHandleA).table_.Saved().GetModuleHandleA();
  }
  static void ExitProcess(std::uint32_t status) {
    Notice(Call::ExitProcess, status);
    throw Exit{status};
  }

  static inline FakeSystem* current_ = nullptr;

  ScopedTable<platform::CallTable> table_{platform::Calls};
  std::map<std::string, std::shared_ptr<File>> files_;
  /// Every handle given, open or closed since; a handle is never given twice.
  std::vector<OpenFile> handles_;
  std::array<std::uint64_t, static_cast<std::size_t>(Call::Count)> calls_{};
  std::vector<Fault> faults_;
  std::vector<Request> log_;
};
