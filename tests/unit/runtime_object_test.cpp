#include <gtest/gtest.h>

#include <memory>

#include "veltro/error.h"
#include "veltro/object.h"

using namespace veltro;

namespace {

class TPerson : public Object {
 public:
  Value cName = "";
  Value nAge = 0;

  std::string_view className() const override { return "TPERSON"; }

  // Operations wired by method<>: a reference to the object, void, const.
  TPerson& Rename(const Value& name) {
    cName = name;
    return *this;
  }
  void Aged(const Value& years, const Value& months) { nAge = years.asInt() + (months.isNil() ? 0 : 1); }
  std::string Label() const { return cName.asString() + "/" + nAge.toString(); }

 protected:
  const MessageTable& messages() const override { return table(); }

 public:
  static const MessageTable& table() {
    static const MessageTable t = [] {
      MessageTable m;
      m.member<TPerson, &TPerson::cName>("cName");
      m.member<TPerson, &TPerson::nAge>("nAge");
      m.method<&TPerson::Rename>("Rename").method<&TPerson::Aged>("Aged").method<&TPerson::Label>("Label");
      m.add("Greet", [](Object& self, Args args) -> Value {
        auto& p = static_cast<TPerson&>(self);
        std::string who = args.empty() ? "" : args[0].asString();
        return Value("Hello " + who + ", I am " + p.cName.asString());
      });
      return m;
    }();
    return t;
  }
};

class TStudent : public TPerson {
 public:
  std::string_view className() const override { return "TSTUDENT"; }

 protected:
  const MessageTable& messages() const override {
    static const MessageTable t = [] {
      MessageTable m;
      m.add("Greet", [](Object&, Args) -> Value { return Value("Hi"); });
      m.inherit(TPerson::table());
      return m;
    }();
    return t;
  }
};

}  // namespace

TEST(Object, MessagesByName) {
  auto p = std::make_shared<TPerson>();
  EXPECT_EQ(p->send("_CNAME", "Ana"), Value("Ana"));
  EXPECT_EQ(p->cName, Value("Ana"));
  EXPECT_EQ(p->send("cname"), Value("Ana"));
  EXPECT_EQ(p->send("_nAge", 30), Value(30));
  EXPECT_EQ(p->send("NAGE"), Value(30));
  EXPECT_EQ(p->send("greet", "Luis"), Value("Hello Luis, I am Ana"));
  EXPECT_TRUE(p->understands("GREET"));
  EXPECT_TRUE(p->understands("_nage"));
  EXPECT_FALSE(p->understands("Missing"));

  Value v(p);
  EXPECT_EQ(v.kindLetter(), 'O');
  EXPECT_FALSE(v.isEmpty());
  EXPECT_EQ(v.toString(), "{Object TPERSON}");
  EXPECT_EQ(v.asObjectOf<TPerson>(), p);

  auto s = std::make_shared<TStudent>();
  EXPECT_EQ(s->send("GREET"), Value("Hi"));  // its own message beats the inherited one
  s->send("_cName", "Eva");
  EXPECT_EQ(s->send("CNAME"), Value("Eva"));
}

// The exact class is recognised without a dynamic cast; a subclass, a base
// and an unrelated class must still get what a dynamic cast gives.
TEST(Object, AsObjectOfByExactClassAndBySubclass) {
  auto person = std::make_shared<TPerson>();
  auto student = std::make_shared<TStudent>();
  const Value p(person), s(student), none, text("TPerson");
  EXPECT_EQ(p.asObjectOf<TPerson>(), person);
  EXPECT_EQ(p.asObjectOf<TStudent>(), nullptr);
  EXPECT_EQ(s.asObjectOf<TStudent>(), student);
  EXPECT_EQ(s.asObjectOf<TPerson>(), std::static_pointer_cast<TPerson>(student));
  EXPECT_EQ(s.asObjectOf<Object>(), std::static_pointer_cast<Object>(student));
  EXPECT_EQ(none.asObjectOf<TPerson>(), nullptr);
  EXPECT_EQ(text.asObjectOf<TPerson>(), nullptr);
  EXPECT_EQ(Value(ObjectPtr()).asObjectOf<TPerson>(), nullptr);
}

TEST(Object, UnknownMessageRaisesError) {
  auto p = std::make_shared<TPerson>();
  ErrorPtr read = guarded([&] {
    p->send("Salary");
    ADD_FAILURE() << "the block must end at the error";
  });
  ASSERT_TRUE(read);
  EXPECT_EQ(read->SubSystem, Value("BASE"));
  EXPECT_EQ(read->SubCode, Value(1004));
  EXPECT_EQ(read->Severity, Value(2));
  EXPECT_EQ(read->Description, Value("Message not found"));
  EXPECT_EQ(read->Operation, Value("TPERSON: Salary"));
  EXPECT_EQ(errorMessage(*read), "Error BASE/1004  Message not found: TPERSON: Salary");

  ErrorPtr write = guarded([&] { p->send("_Salary", 100); });
  ASSERT_TRUE(write);
  EXPECT_EQ(write->SubCode, Value(1005));
  EXPECT_EQ(write->Operation, Value("TPERSON: Salary"));

  // A handler that lets the error pass: the message answers nil and the object goes on.
  HandlerScope ignore([](const ErrorPtr&) { return Value(); });
  EXPECT_TRUE(p->send("Salary").isNil());
}

// A message generated from a member function passes the arguments in order,
// nil for those not passed, and answers with the result, the object itself
// for a function that returns it, nil for void.
TEST(Object, MessagesFromMemberFunctions) {
  auto p = std::make_shared<TPerson>();
  EXPECT_EQ(p->send("rename", "Ana").asObjectOf<TPerson>().get(), p.get());
  EXPECT_EQ(p->cName, Value("Ana"));
  EXPECT_TRUE(p->send("Aged", 30).isNil());
  EXPECT_EQ(p->nAge.asInt(), 30);
  p->send("Aged", 30, 6);
  EXPECT_EQ(p->nAge.asInt(), 31);
  EXPECT_EQ(p->send("LABEL").asString(), "Ana/31");
}
