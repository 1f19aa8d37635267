// Name/value tables for the table displays.
#include "modes/statistics_table.h"

namespace {

// A string of `capacity` holding `text`, or 0.
zvHandle MakeString(zvAllocator allocator, int32_t capacity, const char* text) {
    zvHandle string = nullptr;
    if (zvStringCreate(&string, allocator) <= 0) return nullptr;
    zvStringInit(string, capacity);
    zvStringImport(string, text);
    return string;
}

zvHandle Column(zvHandle table, int32_t index) {
    if (zvArrayListItemType(table) != ZV_TYPE_ARRAYLIST) return nullptr;
    auto* slot = static_cast<zvHandle*>(zvArrayListAt(table, index));
    return slot ? *slot : nullptr;
}

// Appends a string to a column; destroys it when the column refuses it.
zvStatus Append(zvHandle column, zvHandle string) {
    zvStatus status = zvArrayListAdd(column, &string);
    if (status <= 0) zvObjectDestroy(string);
    return status;
}

}  // namespace

zvHandle StatisticsTableCreate(zvHandle engine) {
    zvAllocator output = nullptr;
    zvPipeEngineOutputAlloc(engine, &output);
    zvHandle table = nullptr;
    zvHandle names = nullptr;
    zvHandle values = nullptr;
    if (zvArrayListCreate(&table, output) <= 0) return nullptr;
    zvArrayListCreate(&names, output);
    zvArrayListCreate(&values, output);
    zvArrayListInit(table, ZV_TYPE_ARRAYLIST, 2, 0);
    zvArrayListInit(names, ZV_TYPE_STRING, 10, 0);
    zvArrayListInit(values, ZV_TYPE_STRING, 10, 0);
    zvHandle name = MakeString(output, 10, "name");
    zvHandle value = MakeString(output, 10, "value");
    zvArrayListAdd(names, &name);
    zvArrayListAdd(values, &value);
    zvArrayListAdd(table, &names);
    zvArrayListAdd(table, &values);
    return table;
}

zvStatus StatisticsTableAddRow(zvHandle table, const char* name, const char* value) {
    zvHandle names = Column(table, 0);
    zvHandle values = Column(table, 1);
    if (names == nullptr || values == nullptr) return ZV_E_RANGE;
    zvHandle nameString = MakeString(nullptr, 100, name);
    zvHandle valueString = MakeString(nullptr, 100, value);
    if (nameString == nullptr || valueString == nullptr) {
        zvObjectDestroy(nameString);
        zvObjectDestroy(valueString);
        return ZV_E_NOMEM;
    }
    zvStatus status = Append(names, nameString);
    if (status <= 0) {
        zvObjectDestroy(valueString);
        return status;
    }
    status = Append(values, valueString);
    // Both columns keep the same length: a value that could not be appended
    // takes its name back out.
    if (status <= 0) zvArrayListRemove(names, zvArrayListCount(names) - 1);
    return status;
}
