// TQuillonQry: the whole result of one SELECT in memory, with a cursor, pages,
// seek, typed fields by name and number, edits with undo, save and delete.
//
//   auto q = srv->Query("SELECT * FROM clientes LIMIT 10");
//   while (!q->Eof()) {
//     q->FieldPut("age", 30);            // or q->send("_age", 30)
//     q->Save();                         // UPDATE ... WHERE <key>, then reload
//     q->Skip();
//   }
//   q->End();
//
// Columns also answer as messages by name: q->send("notes") reads the column,
// q->send("_notes", "text") writes it. Members are public Values.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "veltro/object.h"
#include "veltro/server.h"
#include "veltro/value.h"

namespace veltro {

class TQuillonRow;
using RowPtr = std::shared_ptr<TQuillonRow>;

class TQuillonQry : public Object {
  struct Key {};

 public:
  // A new query registered with its server and, when cQuery is given, loaded.
  // nullptr when there is no server.
  static QueryPtr New(const Value& cQuery, const ServerPtr& server);
  explicit TQuillonQry(Key);
  ~TQuillonQry() override;  // frees a result that End did not
  TQuillonQry(const TQuillonQry&) = delete;
  TQuillonQry& operator=(const TQuillonQry&) = delete;

  std::string_view className() const override { return "TQUILLONQRY"; }

  // --- Members ---------------------------------------------------------------
  Value aColumns, aTables, aRow, aStructure, aOldRow;
  Value bBof, bEof, bOnFillArray, bOnChangePage, bOnLoadQuery;
  Value cQuery, cWhere, cGroup, cHaving, cOrder, cLimit;
  Value Cargo;
  Value hOldRow, hResult, hRow;
  Value lBof, lEof, lAppend, lPagination;
  Value nFCount, nRecCount, nRecNo, nQryId;
  Value nCurrentPage, nTotalRows, nPageStep, nMaxPages, nCurrentLimit;
  Value oServer, oRow;

  ServerPtr server() const;

  // --- Loading and clauses ---------------------------------------------------------
  void End();
  void LoadQuery(const Value& lBuildData = {});
  // Splits a statement (cQuery when nil) into aColumns, aTables and the clause
  // texts. A keyword opens a clause only as code between single spaces:
  // never inside a quoted text, a backquoted name, a comment or parentheses,
  // read in the connection's character set; lists split at commas of code.
  void BuildDatas(const Value& cQuery = {});
  std::string BuildQuery(const Value& columns = {}, const Value& tables = {}, const Value& where = {},
                         const Value& group = {}, const Value& having = {}, const Value& order = {},
                         const Value& limit = {}, const Value& withRollup = {});
  Value Refresh(const Value& lBuildData = {});
  Value SetNewFilter(const Value& nClause, const Value& uValue, const Value& lRefresh = {});
  Value SetWhere(const Value& v, const Value& lRefresh = {}) { return SetNewFilter(1, v, lRefresh); }
  Value SetGroup(const Value& v, const Value& lRefresh = {}) { return SetNewFilter(2, v, lRefresh); }
  Value SetHaving(const Value& v, const Value& lRefresh = {}) { return SetNewFilter(3, v, lRefresh); }
  Value SetOrder(const Value& v, const Value& lRefresh = {}) { return SetNewFilter(4, v, lRefresh); }
  Value SetLimit(const Value& v, const Value& lRefresh = {}) { return SetNewFilter(5, v, lRefresh); }
  bool IsSingleTable() const;
  bool IsCommand() const;
  void CheckError(const Value& nError = {});

  // --- Navigation and pages ----------------------------------------------------------
  long GetRow(const Value& nRow = {});
  long GoTo(const Value& nRow) { return GetRow(nRow); }
  long GoTop() { return GetRow(1); }
  long GoBottom() { return GetRow(nRecCount); }
  long Skip(const Value& nRows = {});
  bool Bof() const { return lBof.asBool(); }
  bool Eof() const { return lEof.asBool(); }
  long RecNo() const { return static_cast<long>(nRecNo.asInt()); }
  long LastRec() const { return static_cast<long>(nRecCount.asInt()); }
  long RecCount() const { return LastRec(); }
  // The first row from nStart to nEnd whose column uField holds uData (a text
  // by its letters, lSoft: begins with it; a BIT column by its bits); moves
  // there unless lGoTo is false. Without one, the current row's number.
  long Seek(const Value& uData, const Value& uField, const Value& nStart = {}, const Value& nEnd = {},
            const Value& lSoft = {}, const Value& lGoTo = {});
  void SetPages(const Value& nStep = {});
  void NextPage(const Value& nSkip = {}, const Value& lRefresh = {});
  void PrevPage(const Value& nSkip = {}, const Value& lRefresh = {});
  void FirstPage();
  void LastPage();

  // --- Fields ------------------------------------------------------------------------
  long FCount() const { return static_cast<long>(nFCount.asInt()); }
  std::string FieldName(const Value& nField);
  long FieldPos(const Value& cName);
  long FieldLen(const Value& uField);
  long FieldDec(const Value& uField);
  std::string FieldType(const Value& uField);
  // FieldType's letter as a Kind (Kind::Nil for no such column).
  Kind FieldKind(const Value& uField);
  Value FieldMySqlType(const Value& uField);
  // A column of the current row as its type letter reads it: "N" an exact
  // number (BIGINT UNSIGNED and BIT(2..64) unsigned), "L" a logical (TINYINT,
  // BIT(1)), "D" a date, "C"/"T" a text padded to the width, "M" a text; SQL
  // NULL reads as that kind's empty value. Nil after 9011/9012/9013.
  Value FieldGet(const Value& uField);
  Value FieldPut(const Value& uField, const Value& uValue);
  bool IsEqual(const Value& cName);
  void Undo(const Value& uField = {});
  RowPtr GetBlankRow(const Value& lObj = {});
  Value FillArray(const Value& bBlock = {});

  // --- Saving --------------------------------------------------------------------------
  // Save and Delete act on the table the one FROM item names (name or
  // db.name, an alias and comments left out); a query over anything else (two
  // tables, a join, a subquery) is refused with 9016 / 9022.
  // true when a statement was sent, false when nothing changed, nil when not single-table.
  Value Save();
  bool Delete(const Value& lAll = {});
  bool Zap() { return Delete(true); }
  std::string MakePrimaryKeyWhere();
  std::string BuildDataWhere();

  // --- Row objects ------------------------------------------------------------------------
  RowPtr GetRowObj(const Value& nRow = {});

  QueryPtr self() { return std::static_pointer_cast<TQuillonQry>(shared_from_this()); }

 protected:
  const MessageTable& messages() const override;
  Value onUnknown(std::string_view message, Args args) override;

 private:
  friend class TQuillonSrv;
  friend class TQuillonRow;
  long FieldToNum(const Value& uField);
  // FieldGet and FieldPut of column n (from 1, within the loaded columns).
  Value fieldAt(long n);
  Value putAt(long n, const Value& uValue);
  // MakePrimaryKeyWhere's condition appended to out; false (out unchanged) when it has none.
  bool appendKeyWhere(std::string& out);
  Value VerifyValue(long nField, const Value& uValue);
  void SetData(const Value& uField, const Value& uValue);

  struct Impl;
  std::unique_ptr<Impl> impl_;  // caches of the loaded result (column keys, slots)
};

}  // namespace veltro
