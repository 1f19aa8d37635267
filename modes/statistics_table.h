// The two-column name/value table that the "Encoder", "Status" and
// "Statistics" displays show.
#ifndef TORVANE_MODES_STATISTICS_TABLE_H
#define TORVANE_MODES_STATISTICS_TABLE_H

#include "zvapi/zvapi.h"

// An array list (item type 27) of two string columns headed "name" and
// "value", made with the engine's output allocator; the caller labels it
// and sends it (the engine then owns it). Returns the table, or 0 when the
// table itself cannot be made; the statuses of the inner steps are not
// checked (whatever was made belongs to the engine either way).
zvHandle StatisticsTableCreate(zvHandle engine);

// Appends `name` to column 0 and `value` to column 1 (strings of the default
// allocator, which the columns then own). Returns the status of the last
// append; a string that could not be appended is destroyed.
zvStatus StatisticsTableAddRow(zvHandle table, const char* name, const char* value);

#endif
