#include "tessera/pickle_machine.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <unordered_map>

#include "tessera/pickle_value.h"

namespace le::tessera {
namespace {

using Kind = PickleValue::Kind;

// Opcodes of the subset, as protocol 2 encodes them.
enum Op : uint8_t {
  kProto = 0x80, kMark = 0x28, kEmptyTuple = 0x29, kTuple1 = 0x85, kTuple2 = 0x86, kTuple3 = 0x87,
  kTuple = 0x74, kEmptyDict = 0x7D, kNone = 0x4E, kNewTrue = 0x88, kNewFalse = 0x89, kBinInt = 0x4A,
  kBinInt1 = 0x4B, kBinInt2 = 0x4D, kBinUnicode = 0x58, kGlobal = 0x63, kBinPut = 0x71,
  kLongBinPut = 0x72, kBinGet = 0x68, kLongBinGet = 0x6A, kBinPersId = 0x51, kReduce = 0x52,
  kBuild = 0x62, kSetItem = 0x73, kSetItems = 0x75, kStop = 0x2E,
};

// torch nests tuples three deep (a tensor's arguments hold its persistent id); a value nested
// thousands deep would overflow the native stack when it is released, so depth has a bound.
constexpr int kMaxTupleDepth = 32;

class Machine {
 public:
  explicit Machine(std::span<const uint8_t> program) : program_(program) {}

  std::vector<StateDictPair> run() {
    while (at_ < program_.size() && step(program_[at_++])) {}
    if (pairs_.empty()) throw std::runtime_error("teeth: head .pt state_dict is empty");
    return std::move(pairs_);
  }

 private:
  // Runs one opcode; false once it was STOP.
  bool step(uint8_t op) {
    switch (op) {
      case kProto: read(1); break;
      case kMark: marks_.push_back(stack_.size()); break;
      case kEmptyTuple: pushTuple({}); break;
      case kTuple1: pushTuple(popN(1)); break;
      case kTuple2: pushTuple(popN(2)); break;
      case kTuple3: pushTuple(popN(3)); break;
      case kTuple: pushTuple(popToMark()); break;
      case kEmptyDict: stack_.push_back(PickleValue::of(Kind::Dict)); break;
      case kNone: stack_.push_back(PickleValue::of(Kind::None)); break;
      case kNewTrue: stack_.push_back(PickleValue::of(Kind::Bool, 1)); break;
      case kNewFalse: stack_.push_back(PickleValue::of(Kind::Bool, 0)); break;
      case kBinInt: stack_.push_back(PickleValue::of(Kind::Int, int32_t(readU32()))); break;
      case kBinInt1: stack_.push_back(PickleValue::of(Kind::Int, read(1)[0])); break;
      case kBinInt2: stack_.push_back(PickleValue::of(Kind::Int, readU16())); break;
      case kBinUnicode: pushText(Kind::String, read(readU32())); break;
      case kGlobal: pushGlobal(); break;
      case kBinPut: put(read(1)[0]); break;
      case kLongBinPut: put(readU32()); break;
      case kBinGet: get(read(1)[0], "teeth: pickle BINGET out of range"); break;
      case kLongBinGet: get(readU32(), "teeth: pickle LONG_BINGET out of range"); break;
      case kBinPersId: stack_.push_back(picklePersistentLoad(pop())); break;
      case kReduce: reduce(); break;
      case kBuild: break;  // an object's state (the state dict's _metadata) carries no weights
      case kSetItem: setItems(popN(2)); break;
      case kSetItems: setItems(popToMark()); break;
      case kStop: return false;
      default: refuseOpcode(op);
    }
    return true;
  }

  [[noreturn]] static void refuseOpcode(uint8_t op) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", op);
    throw std::runtime_error(std::string("teeth: unsupported pickle opcode 0x") + hex + " in head .pt");
  }

  std::span<const uint8_t> read(uint64_t n) {
    if (n > program_.size() - at_) throw std::runtime_error("teeth: pickle truncated");
    const std::span<const uint8_t> bytes = program_.subspan(at_, n);
    at_ += n;
    return bytes;
  }
  uint32_t readU16() {
    const auto b = read(2);
    return uint32_t(b[0] | (b[1] << 8));
  }
  uint32_t readU32() {
    const auto b = read(4);
    return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
  }
  std::string readLine() {
    std::string line;
    for (uint8_t c; (c = read(1)[0]) != '\n';) line.push_back(char(c));
    return line;
  }

  void pushText(Kind kind, std::span<const uint8_t> bytes) {
    stack_.push_back(PickleValue::ofText(kind, std::string(bytes.begin(), bytes.end())));
  }
  void pushGlobal() {
    const std::string module = readLine();
    const std::string name = readLine();
    stack_.push_back(PickleValue::ofText(Kind::Global, module + " " + name));
  }
  void pushTuple(std::vector<PickleValue> items) {
    PickleValue tuple = PickleValue::of(Kind::Tuple);
    for (const PickleValue& item : items) tuple.depth = std::max(tuple.depth, item.depth);
    if (++tuple.depth > kMaxTupleDepth)
      throw std::runtime_error("teeth: pickle nests tuples deeper than " + std::to_string(kMaxTupleDepth) +
                               " in head .pt");
    tuple.items = std::make_shared<const std::vector<PickleValue>>(std::move(items));
    stack_.push_back(std::move(tuple));
  }

  PickleValue pop() { return std::move(popN(1)[0]); }
  // The top n values, deepest first.
  std::vector<PickleValue> popN(size_t n) {
    if (stack_.size() < n || (!marks_.empty() && stack_.size() - n < marks_.back()))
      throw std::runtime_error("teeth: pickle stack underflow in head .pt");
    return popFrom(stack_.size() - n);
  }
  std::vector<PickleValue> popToMark() {
    if (marks_.empty()) throw std::runtime_error("teeth: pickle has no MARK to close in head .pt");
    const size_t mark = marks_.back();
    marks_.pop_back();
    return popFrom(mark);
  }
  std::vector<PickleValue> popFrom(size_t first) {
    std::vector<PickleValue> items(std::make_move_iterator(stack_.begin() + long(first)),
                                   std::make_move_iterator(stack_.end()));
    stack_.resize(first);
    return items;
  }

  // The memo holds what BINPUT stored; an index never stored is out of its range.
  void put(uint32_t index) {
    if (stack_.empty()) throw std::runtime_error("teeth: pickle stack underflow in head .pt");
    memo_[index] = stack_.back();
  }
  void get(uint32_t index, const char* outOfRange) {
    const auto it = memo_.find(index);
    if (it == memo_.end()) throw std::runtime_error(outOfRange);
    stack_.push_back(it->second);
  }

  void reduce() {
    std::vector<PickleValue> callableAndArgs = popN(2);
    stack_.push_back(pickleCall(callableAndArgs[0], callableAndArgs[1]));
  }

  // Only string keys with tensor values make the state dict; the metadata's items are dropped.
  void setItems(const std::vector<PickleValue>& keysAndValues) {
    if (keysAndValues.size() % 2 != 0)
      throw std::runtime_error("teeth: pickle SETITEMS with a key and no value in head .pt");
    for (size_t i = 0; i < keysAndValues.size(); i += 2) {
      const PickleValue &key = keysAndValues[i], &value = keysAndValues[i + 1];
      if (key.kind == Kind::String && value.kind == Kind::Tensor) pairs_.push_back({*key.text, value.tensor});
    }
  }

  std::span<const uint8_t> program_;
  size_t at_ = 0;
  std::vector<PickleValue> stack_;
  std::vector<size_t> marks_;  // stack sizes at each MARK
  std::unordered_map<uint32_t, PickleValue> memo_;
  std::vector<StateDictPair> pairs_;
};

}  // namespace

std::vector<StateDictPair> runStateDictPickle(std::span<const uint8_t> program) {
  return Machine(program).run();
}

}  // namespace le::tessera
