#include "tessera/json_access.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tessera/errors.h"
#include "tessera/json_reader.h"

namespace le::tessera::json {
namespace {

using le::test::errorOf;

TEST(JsonAccess, NamedParseWrapsTheReaderMessage) {
  EXPECT_EQ(errorOf([] { parseNamed("[1 2]", "tessera_bank.v1.json"); }),
            "teeth: tessera_bank.v1.json is not readable JSON: teeth: malformed JSON array");
  EXPECT_EQ(errorOf([] { parseNamed("", "/b/manifest.json"); }),
            "teeth: /b/manifest.json is not readable JSON: teeth: JSON truncated");
  EXPECT_EQ(parseNamed("{\"a\":1}", "x").find("a")->number, 1.0);
}

TEST(JsonAccess, RequiredNumberRefusesAbsentWrongKindAndNonObjects) {
  const JVal doc = parse(R"({"n": 4, "s": "4", "z": null, "n": "later"})");
  EXPECT_EQ(requiredNumber(doc, "n", "ctx"), 4.0);
  for (const char* key : {"s", "z", "missing"})
    EXPECT_EQ(errorOf([&] { requiredNumber(doc, key, "side.geometry"); }),
              std::string("teeth: side.geometry lacks numeric '") + key + "'");
  const JVal array = parse("[4]");
  EXPECT_EQ(errorOf([&] { requiredNumber(array, "n", "ctx"); }), "teeth: ctx lacks numeric 'n'");
}

TEST(JsonAccess, OptionalStringFallsBackOnAbsenceAndOtherKinds) {
  const JVal doc = parse(R"({"s": "v", "n": 1, "e": ""})");
  EXPECT_EQ(optionalString(doc, "s", "d"), "v");
  EXPECT_EQ(optionalString(doc, "e", "d"), "");
  EXPECT_EQ(optionalString(doc, "n", "d"), "d");
  EXPECT_EQ(optionalString(doc, "missing", "d"), "d");
  EXPECT_EQ(optionalString(parse("\"s\""), "s", "d"), "d");
}

TEST(JsonAccess, IntegerFieldsTruncateTowardZeroAndSaturate) {
  EXPECT_EQ(truncatedInt32(12.9), 12);
  EXPECT_EQ(truncatedInt32(-3.7), -3);
  EXPECT_EQ(truncatedInt32(1e300), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(truncatedInt32(-INFINITY), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(truncatedInt32(NAN), 0);
}

}  // namespace
}  // namespace le::tessera::json
