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

#include "veltro/export.h"
#include "veltro/object.h"
#include "veltro/server.h"
#include "veltro/value.h"

namespace veltro {

class TQuillonRow;
using RowPtr = std::shared_ptr<TQuillonRow>;

class VELTRO_API TQuillonQry : public Object {
  struct Key {};

 public:
  // A new query registered with its server and, when cQuery is given, loaded
  // (a failed load still returns the query). nullptr when there is no server.
  static QueryPtr New(const Value& cQuery, const ServerPtr& server);
  // For New only (Key is private): the query lives in a shared_ptr.
  explicit TQuillonQry(Key);
  ~TQuillonQry() override;  // frees a result that End did not
  TQuillonQry(const TQuillonQry&) = delete;
  TQuillonQry& operator=(const TQuillonQry&) = delete;

  // The system's class name, as messages and reports give it.
  std::string_view className() const override { return "TQUILLONQRY"; }

  // --- Members ---------------------------------------------------------------
  // The select and FROM lists as parsed, one text per item; aStructure the
  // column descriptions (MYSQLRESULTSTRUCTURE's). aRow and aOldRow are the
  // system's, kept empty: nothing reads them.
  Value aColumns, aTables, aRow, aStructure, aOldRow;
  // Callbacks, nil for none: Skip calls bBof and bEof (with the query) when a
  // move ends at an end; FillArray's per row; bOnChangePage after a page
  // change (true backwards); bOnLoadQuery (with the query) before each load.
  Value bBof, bEof, bOnFillArray, bOnChangePage, bOnLoadQuery;
  // The statement a load runs, and its clauses without their keywords.
  Value cQuery, cWhere, cGroup, cHaving, cOrder, cLimit;
  // The caller's, never read.
  Value Cargo;
  // The current row as loaded and as edited, keyed "_" + lower-case column
  // name; hResult the stored result (nil: never loaded, 0: no result set).
  Value hOldRow, hResult, hRow;
  // Cursor flags; lAppend: Save inserts the row; lPagination: pages are on.
  Value lBof, lEof, lAppend, lPagination;
  // Columns, rows and the current row (from 1); the number in the registry.
  Value nFCount, nRecCount, nRecNo, nQryId;
  // Page state, nil until SetPages: page (from 1), rows without the limit,
  // rows a page, pages, and the current page's first row (from 0).
  Value nCurrentPage, nTotalRows, nPageStep, nMaxPages, nCurrentLimit;
  // The server that owns the query, and the row object last handed out.
  Value oServer, oRow;

  // oServer as a server pointer (nullptr when it holds none).
  ServerPtr server() const;

  // --- Loading and clauses ---------------------------------------------------------
  // Frees the result and leaves the server's registry; the members stay.
  void End();
  // Runs cQuery and loads its result, cursor on row nRecNo (at least 1);
  // lBuildData (default true) parses the statement into its clauses first.
  // A refused statement is reported and the old rows and cursor stay.
  void LoadQuery(const Value& lBuildData = {});
  // Splits a statement (cQuery when nil) into aColumns, aTables and the clause
  // texts. A keyword opens a clause only as code between single spaces:
  // never inside a quoted text, a backquoted name, a comment or parentheses,
  // read in the connection's character set; lists split at commas of code.
  // A LIMIT whose first number is 0 or 1 ("1", "0, 100") is dropped, as the
  // system always did; a later Refresh then loads every row.
  void BuildDatas(const Value& cQuery = {});
  // Stores the parts as the query's clause members and returns the SELECT
  // they make (BUILDQUERY's text); cQuery and the rows are left alone.
  std::string BuildQuery(const Value& columns = {}, const Value& tables = {}, const Value& where = {},
                         const Value& group = {}, const Value& having = {}, const Value& order = {},
                         const Value& limit = {}, const Value& withRollup = {});
  // Rebuilds cQuery from the clause members, reloads, returns the new cQuery.
  Value Refresh(const Value& lBuildData = {});
  // Replaces one clause (1 WHERE, 2 GROUP, 3 HAVING, 4 ORDER, 5 LIMIT),
  // rebuilds cQuery and, unless lRefresh is false, reloads; returns the old
  // clause. Set* below name the clause.
  Value SetNewFilter(const Value& nClause, const Value& uValue, const Value& lRefresh = {});
  Value SetWhere(const Value& v, const Value& lRefresh = {}) { return SetNewFilter(1, v, lRefresh); }
  Value SetGroup(const Value& v, const Value& lRefresh = {}) { return SetNewFilter(2, v, lRefresh); }
  Value SetHaving(const Value& v, const Value& lRefresh = {}) { return SetNewFilter(3, v, lRefresh); }
  Value SetOrder(const Value& v, const Value& lRefresh = {}) { return SetNewFilter(4, v, lRefresh); }
  Value SetLimit(const Value& v, const Value& lRefresh = {}) { return SetNewFilter(5, v, lRefresh); }
  // Whether the FROM list has exactly one item.
  bool IsSingleTable() const;
  // Whether the statement parsed as a command: one table and no select
  // list, or a select list without tables.
  bool IsCommand() const;
  // The server's CheckError (nothing without a server).
  void CheckError(const Value& nError = {});

  // --- Navigation and pages ----------------------------------------------------------
  // Moves to row nRow (default the current one), clamped to the rows there
  // are, and reads it into hRow and hOldRow; returns the row number. Before a
  // load: 0 and kErrNotLoaded. GoTo, GoTop and GoBottom name the row.
  long GetRow(const Value& nRow = {});
  long GoTo(const Value& nRow) { return GetRow(nRow); }
  long GoTop() { return GetRow(1); }
  long GoBottom() { return GetRow(nRecCount); }
  // Moves by nRows (default 1); returns the rows actually moved. Ending past
  // either end sets Eof or Bof (and calls bEof, bBof).
  long Skip(const Value& nRows = {});
  // The cursor flags, the current row number and the number of rows.
  bool Bof() const { return lBof.asBool(); }
  bool Eof() const { return lEof.asBool(); }
  long RecNo() const { return static_cast<long>(nRecNo.asInt()); }
  long LastRec() const { return static_cast<long>(nRecCount.asInt()); }
  long RecCount() const { return LastRec(); }
  // The first row from nStart to nEnd whose column uField holds uData (a text
  // by its letters, lSoft: begins with it; a BIT column by its bits); moves
  // there unless lGoTo is false. Without one, the current row's number. A
  // date column is never searched: 0.
  long Seek(const Value& uData, const Value& uField, const Value& nStart = {}, const Value& nEnd = {},
            const Value& lSoft = {}, const Value& lGoTo = {});
  // Pages: the statement's LIMIT shows nStep rows (default 100) at a time.
  // SetPages counts the rows and loads the first page; the others move by
  // nSkip pages (default 1) and count again. The last page always shows the
  // last nStep rows. Without SetPages they do nothing.
  void SetPages(const Value& nStep = {});
  void NextPage(const Value& nSkip = {}, const Value& lRefresh = {});
  void PrevPage(const Value& nSkip = {}, const Value& lRefresh = {});
  void FirstPage();
  void LastPage();

  // --- Fields ------------------------------------------------------------------------
  // Fields are named by number (from 1) or by name, without regard to case.
  // The number of columns.
  long FCount() const { return static_cast<long>(nFCount.asInt()); }
  // A column's name (lower case); "" and kErrFieldNumber for no such number.
  std::string FieldName(const Value& nField);
  // A column's number; 0 and kErrFieldName for no such name.
  long FieldPos(const Value& cName);
  // A column's width in bytes and its decimals; 0 for no such column.
  long FieldLen(const Value& uField);
  long FieldDec(const Value& uField);
  // A column's kind letter ("N", "C", "D", ...); "U" for no such column.
  std::string FieldType(const Value& uField);
  // FieldType's letter as a Kind (Kind::Nil for no such column).
  Kind FieldKind(const Value& uField);
  // A column's protocol type number (db::FieldType); the text "U" for no such
  // column, as the system answers.
  Value FieldMySqlType(const Value& uField);
  // A column of the current row as its type letter reads it: "N" an exact
  // number (BIGINT UNSIGNED and BIT(2..64) unsigned), "L" a logical (TINYINT,
  // BIT(1)), "D" a date, "C"/"T" a text padded to the width, "M" a text; SQL
  // NULL reads as that kind's empty value. Nil for no such column, reported
  // twice: kErrFieldName (or kErrFieldNumber), then kErrFieldValue.
  Value FieldGet(const Value& uField);
  // Writes a column of the current row (a text trimmed, held unescaped until
  // Save) and returns the value. Nil, with kErrFieldKind, when the column
  // holds a value of another kind; nil, unreported, for a number out of range.
  Value FieldPut(const Value& uField, const Value& uValue);
  // Whether a column (by name) still holds its loaded value; false for none.
  bool IsEqual(const Value& cName);
  // Puts back the loaded value of one column, or of all without an argument
  // (in the row object's copy while one is handed out).
  void Undo(const Value& uField = {});
  // Starts a new row for Save to insert: each column from its default, append
  // mode on; returns a row object of it unless lObj is false (then nullptr).
  // A query of more than one table: nullptr and kErrBlankRowTables.
  RowPtr GetBlankRow(const Value& lObj = {});
  // The rows from the current one to the last, each an array of FieldGet's
  // values, bBlock (default bOnFillArray) called with each; ends on Eof.
  Value FillArray(const Value& bBlock = {});

  // --- Saving --------------------------------------------------------------------------
  // Save and Delete act on the table the one FROM item names (name or
  // db.name, an alias and comments left out); a query over anything else (two
  // tables, a join, a subquery) is refused with 9016 / 9022.
  // Save writes the changed columns (UPDATE found by the key condition, else
  // by every loaded value) or, in append mode, the row (INSERT), then reloads.
  // true when a statement was sent (refused or not), false when nothing
  // changed, nil when not single-table.
  Value Save();
  // Deletes the current row, found as Save finds it, or with lAll every row
  // of the table (Zap); reloads. True when the server took the statement.
  bool Delete(const Value& lAll = {});
  bool Zap() { return Delete(true); }
  // "k1=v1 AND k2=v2" over the key columns' loaded values; "" when the
  // result has no rows or no key column.
  std::string MakePrimaryKeyWhere();
  // The condition that finds the loaded row by every column's loaded value.
  std::string BuildDataWhere();

  // --- Row objects ------------------------------------------------------------------------
  // A detached copy of row nRow (default the current one; another row is
  // moved to first), kept in oRow.
  RowPtr GetRowObj(const Value& nRow = {});

  // This query as its shared pointer.
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
