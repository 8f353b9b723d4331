#include "common/fault_file_api.h"

#include <algorithm>
#include <string>

namespace qbtest {
namespace {

constexpr const char* kNames[] = {"CreateFileA",   "WriteFile",          "ReadFile",       "FlushFileBuffers",
                                  "GetFileSizeEx", "CloseHandle",        "MoveFileExA",    "GetFileAttributesA",
                                  "GetFileAttributesExA", "FindFirstFileA", "FindNextFileA", "FindClose",
                                  "CreateDirectoryA", "GetDriveTypeA",   "GetDriveTypeW",  "GetFileAttributesW",
                                  "GetShortPathNameW", "CreateFileW",    "GetFileInformationByHandle"};
static_assert(sizeof kNames / sizeof kNames[0] == static_cast<std::size_t>(FileOp::Count));

std::size_t index(FileOp op) { return static_cast<std::size_t>(op); }

}  // namespace

const char* fileOpName(FileOp op) { return op < FileOp::Count ? kNames[index(op)] : "?"; }

FaultFileApi::FaultFileApi() : FaultFileApi(qbsync::fileApi()) {}

FaultFileApi::FaultFileApi(qbsync::FileApi& inner) : inner_(inner) {}

void FaultFileApi::failAt(unsigned n, DWORD error, bool persistent, std::initializer_list<FileOp> ops) {
  std::lock_guard<std::mutex> lock(mutex_);
  selected_.fill(ops.size() == 0);
  for (FileOp op : ops) selected_[index(op)] = true;
  armed_ = true;
  persistent_ = persistent;
  fired_ = false;
  failed_.clear();
  failAt_ = n;
  counted_ = 0;
  error_ = error;
}

void FaultFileApi::clearFault() {
  std::lock_guard<std::mutex> lock(mutex_);
  armed_ = false;
  counted_ = 0;
}

bool FaultFileApi::fired() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fired_;
}

std::vector<FileOp> FaultFileApi::failedOps() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failed_;
}

unsigned FaultFileApi::calls(FileOp op) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_[index(op)];
}

unsigned FaultFileApi::totalCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  unsigned total = 0;
  for (unsigned c : calls_) total += c;
  return total;
}

void FaultFileApi::resetCounts() {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.fill(0);
}

void FaultFileApi::setMaxWriteChunk(DWORD bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  maxWriteChunk_ = bytes;
}

void FaultFileApi::setDriveType(std::function<UINT(const wchar_t*)> answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  driveType_ = std::move(answer);
}

void FaultFileApi::setShortPath(std::function<DWORD(const wchar_t*, wchar_t*, DWORD)> answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  shortPath_ = std::move(answer);
}

bool FaultFileApi::shouldFail(FileOp op) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++calls_[index(op)];
  if (!armed_ || !selected_[index(op)]) return false;
  ++counted_;
  const bool hit = persistent_ ? counted_ >= failAt_ : counted_ == failAt_;
  if (!hit) return false;
  fired_ = true;
  failed_.push_back(op);
  SetLastError(error_);
  return true;
}

HANDLE FaultFileApi::createFileA(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
  if (shouldFail(FileOp::CreateFileA)) return INVALID_HANDLE_VALUE;
  return inner_.createFileA(path, access, share, disposition, flags);
}

BOOL FaultFileApi::writeFile(HANDLE file, const void* data, DWORD size, DWORD* written) {
  if (shouldFail(FileOp::WriteFile)) {
    if (written) *written = 0;
    return FALSE;
  }
  DWORD chunk;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    chunk = maxWriteChunk_ ? std::min(size, maxWriteChunk_) : size;
  }
  return inner_.writeFile(file, data, chunk, written);
}

BOOL FaultFileApi::readFile(HANDLE file, void* data, DWORD size, DWORD* read) {
  if (shouldFail(FileOp::ReadFile)) {
    if (read) *read = 0;
    return FALSE;
  }
  return inner_.readFile(file, data, size, read);
}

BOOL FaultFileApi::flushFileBuffers(HANDLE file) {
  if (shouldFail(FileOp::FlushFileBuffers)) return FALSE;
  return inner_.flushFileBuffers(file);
}

BOOL FaultFileApi::getFileSizeEx(HANDLE file, LARGE_INTEGER* size) {
  if (shouldFail(FileOp::GetFileSizeEx)) return FALSE;
  return inner_.getFileSizeEx(file, size);
}

BOOL FaultFileApi::closeHandle(HANDLE handle) {
  if (shouldFail(FileOp::CloseHandle)) {
    const DWORD error = GetLastError();
    inner_.closeHandle(handle);
    SetLastError(error);
    return FALSE;
  }
  return inner_.closeHandle(handle);
}

BOOL FaultFileApi::moveFileExA(const char* from, const char* to, DWORD flags) {
  if (shouldFail(FileOp::MoveFileExA)) return FALSE;
  return inner_.moveFileExA(from, to, flags);
}

DWORD FaultFileApi::getFileAttributesA(const char* path) {
  if (shouldFail(FileOp::GetFileAttributesA)) return INVALID_FILE_ATTRIBUTES;
  return inner_.getFileAttributesA(path);
}

BOOL FaultFileApi::getFileAttributesExA(const char* path, WIN32_FILE_ATTRIBUTE_DATA* data) {
  if (shouldFail(FileOp::GetFileAttributesExA)) return FALSE;
  return inner_.getFileAttributesExA(path, data);
}

HANDLE FaultFileApi::findFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) {
  if (shouldFail(FileOp::FindFirstFileA)) return INVALID_HANDLE_VALUE;
  return inner_.findFirstFileA(pattern, data);
}

BOOL FaultFileApi::findNextFileA(HANDLE find, WIN32_FIND_DATAA* data) {
  if (shouldFail(FileOp::FindNextFileA)) return FALSE;
  return inner_.findNextFileA(find, data);
}

BOOL FaultFileApi::findClose(HANDLE find) {
  if (shouldFail(FileOp::FindClose)) {
    const DWORD error = GetLastError();
    inner_.findClose(find);
    SetLastError(error);
    return FALSE;
  }
  return inner_.findClose(find);
}

BOOL FaultFileApi::createDirectoryA(const char* path) {
  if (shouldFail(FileOp::CreateDirectoryA)) return FALSE;
  return inner_.createDirectoryA(path);
}

UINT FaultFileApi::getDriveTypeA(const char* root) {
  if (shouldFail(FileOp::GetDriveTypeA)) return DRIVE_UNKNOWN;
  std::function<UINT(const wchar_t*)> answer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    answer = driveType_;
  }
  if (answer) {
    const std::wstring wide(root, root + std::char_traits<char>::length(root));
    return answer(wide.c_str());
  }
  return inner_.getDriveTypeA(root);
}

UINT FaultFileApi::getDriveTypeW(const wchar_t* root) {
  if (shouldFail(FileOp::GetDriveTypeW)) return DRIVE_UNKNOWN;
  std::function<UINT(const wchar_t*)> answer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    answer = driveType_;
  }
  return answer ? answer(root) : inner_.getDriveTypeW(root);
}

DWORD FaultFileApi::getFileAttributesW(const wchar_t* path) {
  if (shouldFail(FileOp::GetFileAttributesW)) return INVALID_FILE_ATTRIBUTES;
  return inner_.getFileAttributesW(path);
}

DWORD FaultFileApi::getShortPathNameW(const wchar_t* path, wchar_t* buffer, DWORD size) {
  if (shouldFail(FileOp::GetShortPathNameW)) return 0;
  std::function<DWORD(const wchar_t*, wchar_t*, DWORD)> answer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    answer = shortPath_;
  }
  return answer ? answer(path, buffer, size) : inner_.getShortPathNameW(path, buffer, size);
}

HANDLE FaultFileApi::createFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
  if (shouldFail(FileOp::CreateFileW)) return INVALID_HANDLE_VALUE;
  return inner_.createFileW(path, access, share, disposition, flags);
}

BOOL FaultFileApi::getFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
  if (shouldFail(FileOp::GetFileInformationByHandle)) return FALSE;
  return inner_.getFileInformationByHandle(file, info);
}

FileApiOverride::FileApiOverride(qbsync::FileApi& api) : previous_(&qbsync::fileApi()) {
  qbsync::setFileApiForTesting(&api);
}

FileApiOverride::~FileApiOverride() { qbsync::setFileApiForTesting(previous_); }

}  // namespace qbtest
