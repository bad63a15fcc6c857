// Column values of a record buffer as expression values, and back.
//
// The statements read source rows and write result and target rows through
// these two functions, so the mapping between a column's stored form
// (record.h) and a TValue (value.h) lives in one place.
#pragma once

#include <cstdint>

#include "db/sql/value.h"
#include "db/storage/record.h"

namespace downsql::sql {

// The value of column def in record, of the column's type and subtype (NULL
// when the column is NULL). BLOB columns read as NULL here: their value
// lives in the BLOB file and is the cursor's to fetch. RecordID and
// RecordHash read as an Integer and 16 bytes.
TValue ReadColumnValue(const storage::TRecordBuffer& record, const storage::TFieldDef& def);

// Stores value into column def of record, converting it to the column's
// type first (ConvertValue: the conversion errors with 11950). NULL stores
// NULL. Strings are stored through the column's rules (length, character
// case by locale). BLOB columns are not written here.
void WriteColumnValue(storage::TRecordBuffer& record, const storage::TFieldDef& def,
                      const TValue& value, uint32_t locale = 0);

}  // namespace downsql::sql
