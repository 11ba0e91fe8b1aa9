#include "render/graph/onnx_proto_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "render/graph/onnx_proto_writer.h"

namespace {

using le::GsBytes;
using le::GsField;
using le::GsReader;

// Decodes every field of bytes; returns the error text, or "" when all decode.
std::string decodeAll(const GsBytes& bytes, std::vector<GsField>* fields = nullptr) {
  GsReader reader(le::gsSliceOf(bytes));
  GsField f;
  try {
    while (reader.next(f))
      if (fields) fields->push_back(f);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

GsBytes cat(GsBytes a, const GsBytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

GsBytes repeat(uint8_t byte, size_t n) { return GsBytes(n, byte); }

struct MalformedCase {
  const char* name;
  GsBytes bytes;
  const char* error;
};

class GsReaderMalformed : public testing::TestWithParam<MalformedCase> {};

TEST_P(GsReaderMalformed, RefusesWithItsMessage) { EXPECT_EQ(decodeAll(GetParam().bytes), GetParam().error); }

INSTANTIATE_TEST_SUITE_P(
    Cases, GsReaderMalformed,
    testing::Values(
        MalformedCase{"ElevenByteValueVarint", cat(cat({0x08}, repeat(0xff, 10)), {0x01}), "onnx: bad varint"},
        MalformedCase{"ValueVarintRunsOut", {0x08, 0x80, 0x80}, "onnx: bad varint"},
        MalformedCase{"TagRunsOut", {0x80}, "onnx: bad varint"},
        MalformedCase{"ElevenByteTag", cat(repeat(0x88, 10), {0x01}), "onnx: bad varint"},
        MalformedCase{"LengthVarintRunsOut", {0x0a, 0xff}, "onnx: bad varint"},
        MalformedCase{"LengthOneBeyondTheEnd", {0x0a, 0x03, 'a', 'b'}, "onnx: truncated"},
        MalformedCase{"LengthNearTwoToThe64", cat(cat({0x0a}, repeat(0xff, 9)), {0x01, 'a'}), "onnx: truncated"},
        MalformedCase{"Fixed32Short", {0x0d, 1, 2, 3}, "onnx: truncated"},
        MalformedCase{"Fixed64Short", {0x09, 1, 2, 3, 4, 5, 6, 7}, "onnx: truncated"},
        MalformedCase{"GroupStart", {0x0b}, "onnx: bad wire type"},
        MalformedCase{"GroupEnd", {0x0c}, "onnx: bad wire type"},
        MalformedCase{"WireType6", {0x0e, 0x00}, "onnx: bad wire type"},
        MalformedCase{"WireType7", {0x0f}, "onnx: bad wire type"},
        MalformedCase{"BadFieldAfterGoodOne", {0x08, 0x01, 0x0a, 0x05, 'x'}, "onnx: truncated"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GsReader, TenByteVarintWithLastByteClearDecodes) {
  std::vector<GsField> fields;
  ASSERT_EQ(decodeAll(cat(cat({0x08}, repeat(0xff, 9)), {0x01}), &fields), "");
  ASSERT_EQ(fields.size(), 1u);
  EXPECT_EQ(fields[0].varint, std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(fields[0].raw.size, 11u);
}

TEST(GsReader, EveryWireTypeGivesNumberPayloadAndRawSlice) {
  const GsBytes bytes = {0x08, 0x96, 0x01,                // 1: varint 150
                         0x12, 0x02, 'h', 'i',            // 2: "hi"
                         0x1d, 0x00, 0x00, 0x80, 0x3f,    // 3: fixed32 1.0f
                         0x21, 1, 2, 3, 4, 5, 6, 7, 8};   // 4: fixed64
  std::vector<GsField> f;
  ASSERT_EQ(decodeAll(bytes, &f), "");
  ASSERT_EQ(f.size(), 4u);
  EXPECT_EQ(f[0].number, 1u);
  EXPECT_EQ(f[0].varint, 150u);
  EXPECT_EQ(f[1].wireType, 2);
  EXPECT_EQ(f[1].payload.str(), "hi");
  EXPECT_EQ(le::gsFixed32Float(f[2].payload), 1.0f);
  EXPECT_EQ(f[3].payload.size, 8u);
  size_t total = 0;
  for (const GsField& x : f) {
    EXPECT_EQ(x.raw.data, bytes.data() + total);
    total += x.raw.size;
  }
  EXPECT_EQ(total, bytes.size());
}

TEST(GsReader, EmptyInputHasNoFields) { EXPECT_EQ(decodeAll({}), ""); }

TEST(GsWriter, VarintsAreMinimalAndDecodeBack) {
  const uint64_t values[] = {0, 1, 127, 128, 300, 16383, 16384, uint64_t{1} << 63, std::numeric_limits<uint64_t>::max()};
  const size_t lengths[] = {1, 1, 1, 2, 2, 2, 3, 10, 10};
  for (size_t i = 0; i < std::size(values); ++i) {
    GsBytes field;
    le::gsPutVarintField(field, 5, values[i]);
    EXPECT_EQ(field.size(), 1 + lengths[i]) << values[i];
    std::vector<GsField> f;
    ASSERT_EQ(decodeAll(field, &f), "");
    EXPECT_EQ(f[0].number, 5u);
    EXPECT_EQ(f[0].varint, values[i]);
  }
}

TEST(GsWriter, BytesFieldCarriesTagLengthAndPayload) {
  GsBytes out;
  le::gsPutBytes(out, 300, std::string(200, 'z'));
  std::vector<GsField> f;
  ASSERT_EQ(decodeAll(out, &f), "");
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0].number, 300u);
  EXPECT_EQ(f[0].payload.str(), std::string(200, 'z'));
}

}  // namespace
