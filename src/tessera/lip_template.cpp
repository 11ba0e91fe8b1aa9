// Reading the lip template ("lip-template-v1") and its optional anchor-linear map ("lip-map-v1").
// Every value is checked, in the order the document's keys are read, before the contour exists:
// a template that fails one check is refused whole.
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tessera/json_reader.h"
#include "tessera/json_value.h"
#include "tessera/lip_contour.h"
#include "tessera/lip_template_rules.h"

namespace le::tessera {

namespace {

using json::JVal;

constexpr const char* kFormat = "lip-template-v1";
constexpr const char* kMapSchema = "lip-map-v1";
constexpr const char* kMapKind = "anchor-linear";
// A map that names no anchors reads the mouth corners and the outer edges of both lips.
constexpr int32_t kDefaultMapRows[] = {17, 18, 19, 20};

bool isNumber(const JVal* v) { return v && v->kind == JVal::kNumber; }

bool isFiniteNumber(const JVal& v) { return v.kind == JVal::kNumber && std::isfinite(v.number); }

// A whole number naming one of the rows a frame's keypoints carry.
bool isRowNumber(const JVal& v) {
  return v.kind == JVal::kNumber && v.number >= 0 && v.number < kKeypointRows && std::trunc(v.number) == v.number;
}

std::string sixDecimals(double v) {
  const int length = std::snprintf(nullptr, 0, "%f", v);
  std::string text(size_t(length) + 1, '\0');
  std::snprintf(text.data(), text.size(), "%f", v);
  text.pop_back();
  return text;
}

std::string rowText(const JVal& v) {
  if (v.kind != JVal::kNumber) return "(not a number)";
  char text[32];
  std::snprintf(text, sizeof text, "%g", v.number);
  return text;
}

bool sameCanvas(double declared, int canvas) { return std::isfinite(declared) && std::trunc(declared) == canvas; }

JVal parseTemplate(const std::string& text) {
  try {
    return json::parse(text);
  } catch (const std::runtime_error& e) {
    throw lipTemplateError(std::string("is not parseable JSON (") + e.what() + ")");
  }
}

void checkFormat(const JVal& doc) {
  const JVal* format = doc.find("format");
  if (!format || format->kind != JVal::kString) throw lipTemplateError("carries no string `format`");
  if (format->string != kFormat)
    throw lipTemplateError("declares format '" + format->string + "', not '" + kFormat +
                           "' \xe2\x80\x94 this runtime cannot read it");
}

void checkEdge(const JVal& doc) {
  const JVal* edge = doc.find("edge");
  if (edge && edge->kind == JVal::kString && edge->string != "outward")
    throw lipTemplateError("declares edge '" + edge->string +
                           "', and the contour feather is OUTWARD \xe2\x80\x94 refusing to serve a mask this runtime "
                           "does not compute");
}

void checkCanvas(const JVal& doc, int canvas) {
  const JVal* declared = doc.find("canvas");
  if (!isNumber(declared)) throw lipTemplateError("carries no numeric `canvas`");
  if (!sameCanvas(declared->number, canvas))
    throw lipTemplateError("was baked on a " + sixDecimals(declared->number) + " canvas but this bundle composes on " +
                           std::to_string(canvas) +
                           " \xe2\x80\x94 refusing to deform a polygon onto a canvas it does not name");
}

// The feather is kept as a float, so a value positive only in double precision is not positive.
float readFeather(const JVal& doc) {
  const JVal* feather = doc.find("feather_px");
  if (!isNumber(feather)) throw lipTemplateError("carries no numeric `feather_px`");
  const double value = feather->number;
  const float kept = value > FLT_MAX ? INFINITY : value < -FLT_MAX ? -INFINITY : float(value);
  if (!(kept > 0.0f)) throw lipTemplateError("declares feather_px " + sixDecimals(value) + ", which is not positive");
  return kept;
}

std::vector<double> readUnitPolygon(const JVal& doc) {
  const JVal* rows = doc.find("u_canon");
  if (!rows || !rows->isArray() || rows->array.empty())
    throw lipTemplateError("carries no non-empty `u_canon` array");
  std::vector<double> u;
  for (size_t i = 0; i < rows->array.size(); ++i) {
    const JVal& row = rows->array[i];
    if (!row.isArray() || row.array.size() != 2 || !isNumber(&row.array[0]) || !isNumber(&row.array[1]))
      throw lipTemplateError("u_canon row " + std::to_string(i) +
                             " is not a 2-vector \xe2\x80\x94 this is not an nv x 2 template");
    u.push_back(row.array[0].number);
    u.push_back(row.array[1].number);
  }
  return u;
}

std::vector<int32_t> readAnchorRows(const JVal& doc) {
  const JVal* rows = doc.find("lip_idx");
  if (!rows || !rows->isArray() || rows->array.empty())
    throw lipTemplateError("carries a `lip_idx` that is not a non-empty array");
  std::vector<int32_t> idx;
  for (const JVal& row : rows->array) {
    if (!isRowNumber(row)) throw lipRowError(rowText(row));
    idx.push_back(int32_t(row.number));
  }
  return idx;
}

void checkMapHeader(const JVal& map) {
  if (!map.isObject()) throw lipTemplateError("lip_map is not a JSON object");
  const JVal* schema = map.find("schema");
  const std::string declared = schema && schema->kind == JVal::kString ? schema->string : "?";
  if (declared != kMapSchema)
    throw lipTemplateError("lip_map declares schema '" + declared + "', not '" + kMapSchema +
                           "' \xe2\x80\x94 this runtime cannot evaluate it");
  const JVal* kind = map.find("kind");
  if (!kind || kind->kind != JVal::kString || kind->string != kMapKind)
    throw lipTemplateError(std::string("lip_map kind is not '") + kMapKind + "'");
}

std::vector<int32_t> readMapRows(const JVal& map) {
  const JVal* rows = map.find("lip_idx");
  if (!rows) return {std::begin(kDefaultMapRows), std::end(kDefaultMapRows)};
  if (!rows->isArray() || rows->array.empty() || rows->array.size() > size_t(kMaxMapAnchors))
    throw lipTemplateError("lip_map lip_idx is not 1..8 kd rows");
  for (const JVal& row : rows->array)
    if (row.kind != JVal::kNumber) throw lipTemplateError("lip_map lip_idx is not 1..8 kd rows");
  std::vector<int32_t> idx;
  for (const JVal& row : rows->array) {
    if (!isRowNumber(row)) throw lipMapRowError();
    idx.push_back(int32_t(row.number));
  }
  return idx;
}

// The map's coefficients, W row-major then b, once every row is as wide as the anchors ask.
struct MapCoefficients {
  std::vector<double> W, b;
};

void appendFinite(const std::vector<JVal>& values, std::vector<double>& out) {
  for (const JVal& v : values) {
    if (!isFiniteNumber(v)) throw lipTemplateError("lip_map carries a non-finite coefficient");
    out.push_back(v.number);
  }
}

MapCoefficients readMapCoefficients(const JVal& map, int nv, size_t anchors) {
  const JVal* W = map.find("W");
  const JVal* b = map.find("b");
  if (!W || !b || !W->isArray() || !b->isArray()) throw lipTemplateError("lip_map carries no W/b arrays");
  const size_t rows = 2 * size_t(nv), cols = 2 * anchors;
  if (W->array.size() != rows || b->array.size() != rows)
    throw lipTemplateError("lip_map W/b have " + std::to_string(W->array.size()) + "/" +
                           std::to_string(b->array.size()) + " rows, not 2*nv=" + std::to_string(rows));
  for (size_t i = 0; i < rows; ++i)
    if (!W->array[i].isArray() || W->array[i].array.size() != cols)
      throw lipTemplateError("lip_map W row " + std::to_string(i) + " is not " + std::to_string(cols) + " wide");
  MapCoefficients c;
  for (const JVal& row : W->array) appendFinite(row.array, c.W);
  appendFinite(b->array, c.b);
  return c;
}

void attachMapOf(const JVal& map, int canvas, LipContour& contour) {
  checkMapHeader(map);
  const std::vector<int32_t> rows = readMapRows(map);
  const MapCoefficients c = readMapCoefficients(map, contour.vertexCount(), rows.size());
  const JVal* fitted = map.find("canvas");
  if (isNumber(fitted) && !sameCanvas(fitted->number, canvas))
    throw lipTemplateError("lip_map was fitted on another canvas than this bundle composes on");
  contour.attachMap(c.W.data(), c.b.data(), int(c.b.size()), int(2 * rows.size()), rows.data(), int(rows.size()));
}

}  // namespace

LipContour LipContour::fromTemplateJson(const std::string& text, int canvas) {
  const JVal doc = parseTemplate(text);
  if (!doc.isObject()) throw lipTemplateError("is not a JSON object");
  checkFormat(doc);
  checkEdge(doc);
  checkCanvas(doc, canvas);
  const float feather = readFeather(doc);
  const std::vector<double> u = readUnitPolygon(doc);
  const std::vector<int32_t> rows = readAnchorRows(doc);
  LipContour contour(canvas, feather, u.data(), int(u.size() / 2), rows.data(), int(rows.size()));
  if (const JVal* map = doc.find("lip_map")) attachMapOf(*map, canvas, contour);
  return contour;
}

}  // namespace le::tessera
