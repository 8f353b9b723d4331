#include "service/api_errors.h"

#include <gtest/gtest.h>

namespace qbsync {
namespace {

TEST(NativeApiError, FromResponsesTable) {
  struct Case {
    const char* name;
    HttpResponse response;
    const char* message;
    const char* code;
    const char* field;
    const char* requestId;
    const char* document;
  };
  const std::string rid = "0123456789abcdef0123456789abcdef";
  const Case cases[] = {
      {"404 without body", {404, "", 0, "", "", ""}, "IMPORT_HTTP_404", "", "", "", R"({"http_status":404})"},
      {"no response", {0, "", 0, "", "", ""}, "IMPORT_HTTP_0", "", "", "", R"({"http_status":0})"},
      {"known code and field", {409, "", 0, "IDEMPOTENCY_CONFLICT", "body", rid}, "IMPORT_HTTP_409_IDEMPOTENCY_CONFLICT",
       "IDEMPOTENCY_CONFLICT", "body", rid.c_str(),
       R"({"code":"IDEMPOTENCY_CONFLICT","field":"body","http_status":409,"request_id":"0123456789abcdef0123456789abcdef"})"},
      {"unknown code drops the field", {422, "", 0, "NEW_CODE", "body", ""}, "IMPORT_HTTP_422", "", "", "",
       R"({"http_status":422})"},
      {"field without code", {422, "", 0, "", "body", ""}, "IMPORT_HTTP_422", "", "", "", R"({"http_status":422})"},
      {"unknown field", {422, "", 0, "INVALID_SIDE", "executions[0].price", ""}, "IMPORT_HTTP_422_INVALID_SIDE",
       "INVALID_SIDE", "", "", R"({"code":"INVALID_SIDE","http_status":422})"},
      {"upper-case request id", {500, "", 0, "", "", "0123456789ABCDEF0123456789ABCDEF"}, "IMPORT_HTTP_500", "", "",
       "", R"({"http_status":500})"},
      {"31-character request id", {500, "", 0, "", "", rid.substr(1)}, "IMPORT_HTTP_500", "", "", "",
       R"({"http_status":500})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const NativeApiError error(c.response);
    const NativeApiError copy = error;
    EXPECT_STREQ(copy.what(), c.message);
    EXPECT_EQ(copy.httpStatus(), c.response.status);
    EXPECT_EQ(copy.code(), c.code);
    EXPECT_EQ(copy.field(), c.field);
    EXPECT_EQ(copy.requestId(), c.requestId);
    EXPECT_EQ(errorDocument(copy).dump(), c.document);
  }
}

}  // namespace
}  // namespace qbsync
