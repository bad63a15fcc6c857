// The rules a record must keep before a cursor writes it: default values for
// a new record, and the required, minimum and maximum constraints of its
// columns.
//
// Minimum, maximum and default values are stored as text in the column
// definitions; they are turned into values of the column's type with the
// same text rules as every other column text (field_text.h). A NULL value
// passes the minimum and maximum checks; only "required" refuses it.
#pragma once

#include <string>
#include <vector>

#include "db/storage/column_def.h"
#include "db/storage/record.h"
#include "platform/clock.h"

namespace downsql::storage {

// Sets every stored column that has a default value; CURRENT_DATE,
// CURRENT_TIME and CURRENT_TIMESTAMP take their value from now (the clock
// when null). A default that does not convert leaves its column NULL.
void ApplyDefaults(const std::vector<TFieldDef>& fields, TRecordBuffer& record, uint32_t locale,
                   const platform::LocalDateTime* now = nullptr);

// Checks the columns in column order and raises, for the first that breaks
// a rule, 9732 "A value must be provided ..." (required and NULL), 9730
// "... below the minimum allowable value" or 9731 "... above the maximum
// allowable value", naming the column and table_name.
void CheckConstraints(const std::vector<TFieldDef>& fields, const TRecordBuffer& record,
                      const std::string& table_name, uint32_t locale);

// Order of the values of one column in two records (neither NULL): <0, 0,
// >0. Strings compare with the locale's collation, bytes bytewise, numbers,
// dates and times by value.
int CompareColumnValues(const TFieldDef& def, const TRecordBuffer& a, const TRecordBuffer& b,
                        uint32_t locale);

// True when the table has a column with a default value, a required flag
// or a minimum or maximum.
bool HasDefaults(const std::vector<TFieldDef>& fields);
bool HasConstraints(const std::vector<TFieldDef>& fields);

}  // namespace downsql::storage
