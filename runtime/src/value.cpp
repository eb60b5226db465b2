// The dynamic value: its kinds, arrays released without deep recursion, the
// empty-value rule, text and equality.
#include "veltro/value.h"

#include <memory>
#include <string>
#include <vector>

#include "veltro/object.h"
#include "veltro/table.h"

namespace veltro {


namespace {

// Releases an array without recursing once per nesting level: nested arrays
// that would die with it are handed to the outermost release, which frees
// them one after another.
thread_local std::vector<ArrayPtr>* pendingArrays = nullptr;

struct ArrayRelease {
  void operator()(Array* array) const {
    std::vector<ArrayPtr> local;
    const bool outermost = pendingArrays == nullptr;
    if (outermost) pendingArrays = &local;
    for (Value& v : *array) {
      if (v.isArray()) {
        pendingArrays->push_back(v.asArray());
        v = Value();
      }
    }
    delete array;
    if (outermost) {
      while (!local.empty()) {
        ArrayPtr next = std::move(local.back());
        local.pop_back();
        next.reset();  // may append to local
      }
      pendingArrays = nullptr;
    }
  }
};

}  // namespace

Value Value::array(std::initializer_list<Value> items) { return arrayOf(Array(items)); }

Value Value::arrayOf(Array items) { return Value(ArrayPtr(new Array(std::move(items)), ArrayRelease{})); }

Value Value::table(bool caseInsensitive) { return Value(std::make_shared<Table>(caseInsensitive)); }

const std::string& Value::noText() {
  static const std::string none;
  return none;
}

bool Value::isEmpty() const {
  switch (v_.index()) {
    case indexOf<std::monostate>: return true;
    case indexOf<bool>: return !*std::get_if<bool>(&v_);
    case indexOf<Number>: return std::get_if<Number>(&v_)->isZero();
    case indexOf<Str>: return isBlankText(std::get_if<Str>(&v_)->s);
    case indexOf<Date>: return std::get_if<Date>(&v_)->empty();
    case indexOf<Timestamp>: return std::get_if<Timestamp>(&v_)->empty();
    case indexOf<ArrayPtr>: {
      const ArrayPtr& a = *std::get_if<ArrayPtr>(&v_);
      return !a || a->empty();
    }
    case indexOf<TablePtr>: {
      const TablePtr& t = *std::get_if<TablePtr>(&v_);
      return !t || t->empty();
    }
    default: return false;  // blocks and objects
  }
}

std::size_t Value::len() const {
  if (isString()) return str().size();
  if (isArray()) {
    const ArrayPtr& a = std::get<ArrayPtr>(v_);
    return a ? a->size() : 0;
  }
  if (isTable()) {
    const TablePtr& t = std::get<TablePtr>(v_);
    return t ? t->size() : 0;
  }
  return 0;
}

Value Value::at(std::size_t n) const {
  if (!isArray()) return Value();
  const ArrayPtr& a = std::get<ArrayPtr>(v_);
  if (!a || n < 1 || n > a->size()) return Value();
  return (*a)[n - 1];
}

Value Value::call(Args args) const {
  if (!isBlock()) return Value();
  const CallablePtr& c = std::get<CallablePtr>(v_);
  if (!c || !*c) return Value();
  return (*c)(args);
}

std::string Value::toString() const {
  switch (kind()) {
    case Kind::Nil: return "NIL";
    case Kind::Logical: return std::get<bool>(v_) ? ".T." : ".F.";
    case Kind::Number: return number().text();
    case Kind::Text:
    case Kind::Memo: return str();
    case Kind::Date: return asDate().display();
    case Kind::Timestamp: {
      Timestamp t = asTimestamp();
      int seconds = t.msec / 1000;
      char buf[48];
      if (t.msec % 1000 != 0)
        std::snprintf(buf, sizeof buf, " %02d:%02d:%02d.%03d", seconds / 3600, seconds / 60 % 60, seconds % 60,
                      t.msec % 1000);
      else
        std::snprintf(buf, sizeof buf, " %02d:%02d:%02d", seconds / 3600, seconds / 60 % 60, seconds % 60);
      return Date{t.day}.display() + buf;
    }
    case Kind::Array: return "{Array(" + std::to_string(len()) + ")}";
    case Kind::Table: return "{Table(" + std::to_string(len()) + ")}";
    case Kind::Block: return "{Block}";
    case Kind::Object: {
      ObjectPtr o = asObject();
      return o ? "{Object " + std::string(o->className()) + "}" : "{Object}";
    }
  }
  return std::string();
}

// Numbers compare by value whatever their decimals or exactness. A text and a
// memo with the same bytes are equal: both are strings, the memo only marks a
// long one. Arrays, tables, blocks and objects are equal only to themselves.
bool operator==(const Value& a, const Value& b) {
  if (a.isString() && b.isString()) return a.str() == b.str();
  if (a.v_.index() != b.v_.index()) return false;
  switch (a.kind()) {
    case Kind::Nil: return true;
    case Kind::Logical: return a.asBool() == b.asBool();
    case Kind::Number: return compare(a.number(), b.number()) == 0;
    case Kind::Date: return a.asDate() == b.asDate();
    case Kind::Timestamp: return a.asTimestamp() == b.asTimestamp();
    case Kind::Array: return a.asArray() == b.asArray();
    case Kind::Table: return a.asTable() == b.asTable();
    case Kind::Block: return a.asBlock() == b.asBlock();
    case Kind::Object: return a.asObject() == b.asObject();
    default: return false;
  }
}

}  // namespace veltro
