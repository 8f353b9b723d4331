// qb-inspect: what a trader's data folder holds, scope by scope, without
// changing anything. Exit status 0 when every file passes its checks, 1 when
// any fails (the report names each), 2 when the folder cannot be inspected.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "inspect.h"
#include "read_only_file_api.h"

namespace {

constexpr const char* kUsage =
    "usage: qb-inspect [--json] [--allow-local-fill-ids] <data folder | QuorbelleSync folder | scope outbox>\n";

}  // namespace

int main(int argc, char** argv) {
  bool asJson = false;
  qbinspect::Options options;
  std::string path;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      asJson = true;
    } else if (std::strcmp(argv[i], "--allow-local-fill-ids") == 0) {
      options.allowLocalFillIds = true;
    } else if (argv[i][0] == '-' || !path.empty()) {
      std::fputs(kUsage, stderr);
      return 2;
    } else {
      path = argv[i];
    }
  }
  if (path.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  nlohmann::json report;
  unsigned refused = 0;
  try {
    qbinspect::ReadOnlyScope readOnly;
    report = qbinspect::inspect(path, options);
    refused = readOnly.refused();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qb-inspect: %s\n", e.what());
    return 2;
  }
  if (refused) {
    report["clean"] = false;
    report["problems"].push_back(
        {{"file", ""}, {"reason", "the inspector attempted " + std::to_string(refused) + " write(s); all were refused"}});
  }
  const std::string out = asJson ? report.dump(2) + "\n" : qbinspect::renderText(report);
  std::fwrite(out.data(), 1, out.size(), stdout);
  return report["clean"].get<bool>() ? 0 : 1;
}
