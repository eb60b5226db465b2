// The server object's messages by name: every member and operation.
#include "veltro/query.h"
#include "veltro/server.h"
#include "query_id_lock.h"

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
  t.add("aQueries", [](Object& o, Args) -> Value { return srv(o).aQueries(); });

  t.add("New", [](Object& o, Args a) -> Value {
    srv(o).New(argAt(a, 0), argAt(a, 1), argAt(a, 2), argAt(a, 3), argAt(a, 4), argAt(a, 5), argAt(a, 6));
    return srv(o).self();
  });
  t.add("Connect", [](Object& o, Args a) -> Value {
    return srv(o).Connect(argAt(a, 0), argAt(a, 1), argAt(a, 2), argAt(a, 3), argAt(a, 4), argAt(a, 5));
  });
  t.add("ReConnect", [](Object& o, Args) -> Value { srv(o).ReConnect(); return {}; });
  t.add("End", [](Object& o, Args) -> Value { srv(o).End(); return {}; });
  t.add("Embedded", [](Object& o, Args a) -> Value {
    srv(o).Embedded(argAt(a, 0), argAt(a, 1), argAt(a, 2), argAt(a, 3));
    return srv(o).self();
  });
  t.add("Ping", [](Object& o, Args) -> Value { return srv(o).Ping(); });
  t.add("CheckError", [](Object& o, Args a) -> Value { srv(o).CheckError(argAt(a, 0), argAt(a, 1)); return {}; });
  t.add("ErrorNo", [](Object& o, Args) -> Value { return srv(o).ErrorNo(); });
  t.add("ErrorTxt", [](Object& o, Args) -> Value { return srv(o).ErrorTxt(); });

  t.add("SqlQuery", [](Object& o, Args a) -> Value { return srv(o).SqlQuery(argAt(a, 0)); });
  t.add("Execute", [](Object& o, Args a) -> Value { return srv(o).Execute(argAt(a, 0)); });
  t.add("MultiQuery", [](Object& o, Args a) -> Value { return srv(o).MultiQuery(argAt(a, 0), argAt(a, 1), argAt(a, 2)); });
  t.add("BeginTransaction", [](Object& o, Args) -> Value { return srv(o).BeginTransaction(); });
  t.add("CommitTransaction", [](Object& o, Args) -> Value { return srv(o).CommitTransaction(); });
  t.add("RollBack", [](Object& o, Args) -> Value { return srv(o).RollBack(); });
  t.add("Query", [](Object& o, Args a) -> Value { return srv(o).Query(argAt(a, 0)); });
  t.add("AddQuery", [](Object& o, Args a) -> Value {
    return srv(o).AddQuery(argAt(a, 0).asObjectOf<TQuillonQry>());
  });
  t.add("GetQueryId", [](Object& o, Args) -> Value { return srv(o).GetQueryId(); });
  t.add("CloseQuery", [](Object& o, Args a) -> Value { srv(o).CloseQuery(argAt(a, 0)); return {}; });
  t.add("CloseAllQuery", [](Object& o, Args) -> Value { srv(o).CloseAllQuery(); return {}; });
  t.add("SelectDB", [](Object& o, Args a) -> Value { return srv(o).SelectDB(argAt(a, 0)); });
  t.add("ListDBs", [](Object& o, Args a) -> Value { return srv(o).ListDBs(argAt(a, 0)); });
  t.add("AffectedRows", [](Object& o, Args) -> Value { return srv(o).AffectedRows(); });
  t.add("InsertId", [](Object& o, Args) -> Value { return srv(o).InsertId(); });
  t.add("ListTables", [](Object& o, Args a) -> Value { return srv(o).ListTables(argAt(a, 0)); });

  t.add("Insert", [](Object& o, Args a) -> Value { return srv(o).Insert(argAt(a, 0), argAt(a, 1), argAt(a, 2)); });
  t.add("Update", [](Object& o, Args a) -> Value {
    return srv(o).Update(argAt(a, 0), argAt(a, 1), argAt(a, 2), argAt(a, 3));
  });
  t.add("GetAutoIncrement", [](Object& o, Args a) -> Value { return srv(o).GetAutoIncrement(argAt(a, 0)); });
  t.add("IsAutoIncrement", [](Object& o, Args a) -> Value { return srv(o).IsAutoIncrement(argAt(a, 0), argAt(a, 1)); });
  t.add("GetRowsFromTable", [](Object& o, Args a) -> Value { return srv(o).GetRowsFromTable(argAt(a, 0)); });
  t.add("GetRowsFromQry", [](Object& o, Args a) -> Value { return srv(o).GetRowsFromQry(argAt(a, 0)); });
  t.add("LastDownData", [](Object& o, Args a) -> Value {
    return srv(o).LastDownData(argAt(a, 0), argAt(a, 1), argAt(a, 2));
  });
  t.add("SelectTable", [](Object& o, Args a) -> Value {
    return srv(o).SelectTable(argAt(a, 0), argAt(a, 1), argAt(a, 2), argAt(a, 3), argAt(a, 4), argAt(a, 5), argAt(a, 6),
                              argAt(a, 7));
  });

  t.add("DBCreate", [](Object& o, Args a) -> Value {
    return srv(o).DBCreate(argAt(a, 0), argAt(a, 1), argAt(a, 2), argAt(a, 3));
  });
  t.add("DBExist", [](Object& o, Args a) -> Value { return srv(o).DBExist(argAt(a, 0)); });
  t.add("TableExist", [](Object& o, Args a) -> Value { return srv(o).TableExist(argAt(a, 0)); });
  t.add("DeleteDB", [](Object& o, Args a) -> Value { return srv(o).DeleteDB(argAt(a, 0), argAt(a, 1)); });
  t.add("CreateTable", [](Object& o, Args a) -> Value {
    return srv(o).CreateTable(argAt(a, 0), argAt(a, 1), argAt(a, 2), argAt(a, 3), argAt(a, 4), argAt(a, 5), argAt(a, 6),
                              argAt(a, 7));
  });
  t.add("CreateInfo", [](Object& o, Args a) -> Value { return srv(o).CreateInfo(argAt(a, 0)); });
  t.add("CreateIndex", [](Object& o, Args a) -> Value {
    return srv(o).CreateIndex(argAt(a, 0), argAt(a, 1), argAt(a, 2), argAt(a, 3), argAt(a, 4));
  });
  t.add("DeleteIndex", [](Object& o, Args a) -> Value {
    return srv(o).DeleteIndex(argAt(a, 0), argAt(a, 1), argAt(a, 2));
  });
  t.add("DeleteTables", [](Object& o, Args a) -> Value { return srv(o).DeleteTables(argAt(a, 0), argAt(a, 1)); });
  t.add("ChangeEngine", [](Object& o, Args a) -> Value { return srv(o).ChangeEngine(argAt(a, 0), argAt(a, 1)); });
  t.add("ChangeEngineAll", [](Object& o, Args a) -> Value { srv(o).ChangeEngineAll(argAt(a, 0)); return {}; });
  t.add("Compact", [](Object& o, Args a) -> Value { srv(o).Compact(argAt(a, 0)); return {}; });
  t.add("TableStructure", [](Object& o, Args a) -> Value { return srv(o).TableStructure(argAt(a, 0)); });

  t.add("AddUser", [](Object& o, Args a) -> Value {
    return srv(o).AddUser(argAt(a, 0), argAt(a, 1), argAt(a, 2), argAt(a, 3), argAt(a, 4), argAt(a, 5), argAt(a, 6));
  });
  t.add("DropUser", [](Object& o, Args a) -> Value { return srv(o).DropUser(argAt(a, 0)); });
  t.add("RenameUser", [](Object& o, Args a) -> Value { return srv(o).RenameUser(argAt(a, 0), argAt(a, 1), argAt(a, 2)); });
  t.add("GetPrivileges", [](Object& o, Args a) -> Value { return srv(o).GetPrivileges(argAt(a, 0)); });
  t.add("RevokePrivileges", [](Object& o, Args a) -> Value {
    return srv(o).RevokePrivileges(argAt(a, 0), argAt(a, 1), argAt(a, 2), argAt(a, 3));
  });

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
