// Every file call of a durable write is failed in turn, once and
// persistently; after each step the target must hold its old or its new
// content, the error must name the failing stage, and a clean retry must work.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>

#include "common/fault_file_api.h"
#include "storage/durable_file.h"
#include "storage/scratch_dir.h"

namespace {

using qbtest::FaultFileApi;
using qbtest::FileApiOverride;
using qbtest::FileOp;
using qbtest::readBytes;

constexpr const char* kNoError = "<no error>";

struct Operation {
  const char* name;
  const char* oldContent;  // null: the target does not exist before
  // Texts for the stages that must fail the operation; other failed calls
  // (an existence check, a close) may be tolerated.
  std::map<FileOp, std::string> stageErrors;
  void (*run)(const std::string& target, const std::string& content);
};

void runPublish(const std::string& target, const std::string& content) { qbsync::publishOnce(target, content); }
void runReplace(const std::string& target, const std::string& content) { qbsync::replaceFile(target, content); }

const std::string kWriteText = "Outbox write failed; no fill cursor was advanced.";
const std::string kFlushText = "Outbox flush failed; no fill cursor was advanced.";

const Operation kOperations[] = {
    {"publishOnce",
     nullptr,
     {{FileOp::CreateFileA, "Cannot open outbox temporary file."},
      {FileOp::WriteFile, kWriteText},
      {FileOp::FlushFileBuffers, kFlushText},
      {FileOp::MoveFileExA, "Cannot publish outbox record; the temporary file was retained."}},
     runPublish},
    {"replaceFile",
     "{\"old\":\"state\"}",
     {{FileOp::CreateFileA, "JOURNAL_WRITE_FAILED"},
      {FileOp::WriteFile, kWriteText},
      {FileOp::FlushFileBuffers, kFlushText},
      {FileOp::MoveFileExA, "JOURNAL_COMMIT_FAILED"}},
     runReplace},
};

std::string expectedError(const Operation& op, const std::vector<FileOp>& failed) {
  for (FileOp f : failed) {
    const auto it = op.stageErrors.find(f);
    if (it != op.stageErrors.end()) return it->second;
  }
  return kNoError;
}

TEST(DurableFaults, EveryFailingCallLeavesOldOrNewContent) {
  const std::string newContent = "{\"new\":\"" + std::string(3000, 'n') + "\"}";
  for (const Operation& op : kOperations) {
    for (const bool persistent : {false, true}) {
      bool succeeded = false;
      for (unsigned n = 1; n < 100 && !succeeded; ++n) {
        SCOPED_TRACE(std::string(op.name) + (persistent ? " persistent" : " once") + " N=" + std::to_string(n));
        qbtest::ScratchDir dir("fault");
        const std::string target = dir.file("record.json");
        if (op.oldContent) {
          ASSERT_TRUE(qbtest::writeBytes(target, op.oldContent));
        }

        FaultFileApi faults;
        faults.failAt(n, ERROR_DISK_FULL, persistent);
        std::string error = kNoError;
        {
          FileApiOverride use(faults);
          try {
            op.run(target, newContent);
          } catch (const std::runtime_error& e) {
            error = e.what();
          }
        }
        const std::vector<FileOp> failed = faults.failedOps();
        succeeded = failed.empty();
        EXPECT_EQ(error, expectedError(op, failed));

        const std::string now = readBytes(target);
        const std::string old = op.oldContent ? op.oldContent : "<missing>";
        EXPECT_TRUE(now == old || now == newContent) << "torn target: " << now.size() << " bytes";
        if (error == kNoError) {
          EXPECT_EQ(now, newContent);
        }

        // A leftover temporary file must not block the next clean attempt.
        EXPECT_EQ(qbtest::isClosed(target + ".tmp"), qbtest::exists(target + ".tmp"));
        op.run(target, newContent);
        EXPECT_EQ(readBytes(target), newContent);
      }
      EXPECT_TRUE(succeeded) << op.name << " never got through";
    }
  }
}

}  // namespace
