// The server object's messages by name: every member and operation.
#include "veltro/query.h"
#include "veltro/server.h"
#include "server_query_counter.h"

namespace veltro {

namespace {


TQuillonSrv& srv(Object& o) { return static_cast<TQuillonSrv&>(o); }

// Reads the logical cancel flag that callers of Backup and Restore pass by value.
bool flagOf(const Value& v) { return v.asBool(); }

MessageTable buildTable() {
  using S = TQuillonSrv;
  MessageTable t;
  t.member<S, &S::bOnError>("bOnError")
      .member<S, &S::bOnBackUp>("bOnBackUp")
      .member<S, &S::bOnRestore>("bOnRestore")
      .member<S, &S::bOnMultiQry>("bOnMultiQry")
      .member<S, &S::cDBName>("cDBName")
      .member<S, &S::cPassword>("cPassword")
      .member<S, &S::cHost>("cHost")
      .member<S, &S::cUser>("cUser")
      .member<S, &S::cBuild>("cBuild")
      .member<S, &S::hMysql>("hMysql")
      .member<S, &S::lReConnect>("lReConnect")
      .member<S, &S::Cargo>("Cargo")
      .member<S, &S::lError>("lError")
      .member<S, &S::nFlags>("nFlags")
      .member<S, &S::nPort>("nPort")
      .member<S, &S::cCharset>("cCharset")
      .member<S, &S::cTls>("cTls")
      .member<S, &S::cSslCa>("cSslCa")
      .member<S, &S::cSslCert>("cSslCert")
      .member<S, &S::cSslKey>("cSslKey")
      .member<S, &S::nConnectTimeout>("nConnectTimeout")
      .member<S, &S::nReadTimeout>("nReadTimeout")
      .member<S, &S::nWriteTimeout>("nWriteTimeout")
      .member<S, &S::cSocket>("cSocket")
      .member<S, &S::lRepeatable>("lRepeatable")
      .member<S, &S::nMultiRetries>("nMultiRetries")
      .member<S, &S::lReadYourWrites>("lReadYourWrites");
  t.add("nInternalError", [](Object& o, Args) -> Value { return srv(o).nInternalError; });
  t.add("_nInternalError", [](Object& o, Args a) -> Value {
    // A code set by name is reported by the next check, as when an operation sets it.
    srv(o).SetInternalError(argAt(a, 0));
    return argAt(a, 0);
  });
  t.add("nQueryId", [](Object&, Args) -> Value {
    std::lock_guard<std::mutex> lock(detail::queryIdMutex());
    return TQuillonSrv::nQueryId;
  });
  t.add("_nQueryId", [](Object&, Args a) -> Value {
    std::lock_guard<std::mutex> lock(detail::queryIdMutex());
    return TQuillonSrv::nQueryId = argAt(a, 0);
  });
  t.method<&S::aQueries>("aQueries");

  t.method<&S::New>("New");
  t.method<&S::Connect>("Connect");
  t.method<&S::ReConnect>("ReConnect");
  t.method<&S::End>("End");
  t.method<&S::Embedded>("Embedded");
  t.method<&S::Ping>("Ping");
  t.method<&S::CheckError>("CheckError");
  t.method<&S::ErrorNo>("ErrorNo");
  t.method<&S::ErrorTxt>("ErrorTxt");

  t.method<&S::SqlQuery>("SqlQuery");
  t.method<&S::Execute>("Execute");
  t.method<&S::MultiQuery>("MultiQuery");
  t.method<&S::BeginTransaction>("BeginTransaction");
  t.method<&S::CommitTransaction>("CommitTransaction");
  t.method<&S::RollBack>("RollBack");
  t.method<&S::Query>("Query");
  t.add("AddQuery", [](Object& o, Args a) -> Value {
    return srv(o).AddQuery(argAt(a, 0).asObjectOf<TQuillonQry>());
  });
  t.method<&S::GetQueryId>("GetQueryId");
  t.method<&S::CloseQuery>("CloseQuery");
  t.method<&S::CloseAllQuery>("CloseAllQuery");
  t.method<&S::SelectDB>("SelectDB");
  t.method<&S::ListDBs>("ListDBs");
  t.method<&S::AffectedRows>("AffectedRows");
  t.method<&S::InsertId>("InsertId");
  t.method<&S::ListTables>("ListTables");

  t.method<&S::Insert>("Insert");
  t.method<&S::Update>("Update");
  t.method<&S::GetAutoIncrement>("GetAutoIncrement");
  t.method<&S::IsAutoIncrement>("IsAutoIncrement");
  t.method<&S::GetRowsFromTable>("GetRowsFromTable");
  t.method<&S::GetRowsFromQry>("GetRowsFromQry");
  t.method<&S::LastDownData>("LastDownData");
  t.method<&S::SelectTable>("SelectTable");

  t.method<&S::DBCreate>("DBCreate");
  t.method<&S::DBExist>("DBExist");
  t.method<&S::TableExist>("TableExist");
  t.method<&S::DeleteDB>("DeleteDB");
  t.method<&S::CreateTable>("CreateTable");
  t.method<&S::CreateInfo>("CreateInfo");
  t.method<&S::CreateIndex>("CreateIndex");
  t.method<&S::DeleteIndex>("DeleteIndex");
  t.method<&S::DeleteTables>("DeleteTables");
  t.method<&S::ChangeEngine>("ChangeEngine");
  t.method<&S::ChangeEngineAll>("ChangeEngineAll");
  t.method<&S::Compact>("Compact");
  t.method<&S::TableStructure>("TableStructure");

  t.method<&S::AddUser>("AddUser");
  t.method<&S::DropUser>("DropUser");
  t.method<&S::RenameUser>("RenameUser");
  t.method<&S::GetPrivileges>("GetPrivileges");
  t.method<&S::RevokePrivileges>("RevokePrivileges");

  t.add("Backup", [](Object& o, Args a) -> Value {
    bool cancel = flagOf(argAt(a, 7));
    return srv(o).Backup(argAt(a, 0), argAt(a, 1), argAt(a, 2), argAt(a, 3), argAt(a, 4), argAt(a, 5), argAt(a, 6), &cancel);
  });
  t.add("Restore", [](Object& o, Args a) -> Value {
    bool cancel = flagOf(argAt(a, 1));
    return srv(o).Restore(argAt(a, 0), &cancel);
  });
  return t;
}

}  // namespace

const MessageTable& TQuillonSrv::messages() const {
  static const MessageTable table = buildTable();
  return table;
}

}  // namespace veltro
