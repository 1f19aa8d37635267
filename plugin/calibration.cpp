#include "plugin/calibration.h"

#include "plugin/settings.h"

namespace {

constexpr char kCalibrationAbsent[] = "SystemCalibration.xml is absent.\n";

// Status for a list that is not a list of `itemSize`-byte items.
zvStatus CheckList(zvHandle list, size_t itemSize) {
    if (zvArrayListItemSize(list) == static_cast<int32_t>(itemSize)) return 1;
    return zvObjectIs(list, ZV_TYPE_ARRAYLIST) ? ZV_E_TYPE : ZV_E_HANDLE;
}

zvStatus ReadEntries(zvHandle document, CalibrationSet* set) {
    zvXmlItem root = 0;
    zvStatus status = zvXMLGetRoot(document, &root);
    if (status <= 0) return status;
    if (root == 0) return 0;
    if ((status = zvArrayListCreate(&set->entries, 0)) <= 0) return status;
    if ((status = zvArrayListInit(set->entries, zvTypeBlock(sizeof(CalibrationEntry)), 0, 1)) <= 0)
        return status;
    zvXmlItem sensor = 0;
    if ((status = zvXMLGetFirstChild(document, root, &sensor)) <= 0) return status;
    while (sensor != 0) {
        CalibrationEntry entry = {0, 0.0, 0.0, 0.0};
        if ((status = zvXMLGetChildInt(document, sensor, "SerialNumber", &entry.serialNumber)) <= 0) return status;
        if ((status = zvXMLGetChildFloat(document, sensor, "X", &entry.x)) <= 0) return status;
        if ((status = zvXMLGetChildFloat(document, sensor, "Y", &entry.y)) <= 0) return status;
        if ((status = zvXMLGetChildFloat(document, sensor, "T", &entry.t)) <= 0) return status;
        if ((status = zvArrayListAdd(set->entries, &entry)) <= 0) return status;
        if ((status = zvXMLGetNextSibling(document, sensor, &sensor)) <= 0) return status;
    }
    return 1;
}

zvStatus UpdateEntries(const CalibrationSet* set, zvHandle document) {
    zvXmlItem root = 0;
    zvStatus status = zvXMLGetRoot(document, &root);
    if (status <= 0) return status;
    if (root == 0) return 0;
    if (set->entries != 0 && (status = CheckList(set->entries, sizeof(CalibrationEntry))) <= 0) return status;
    const int32_t count = zvArrayListCount(set->entries);
    for (int32_t i = 0; i < count; ++i) {
        const auto* entry = static_cast<const CalibrationEntry*>(zvArrayListAt(set->entries, i));
        if (entry == nullptr) return ZV_E_RANGE;
        zvXmlItem sensor = 0;
        if ((status = zvXMLGetFirstChild(document, root, &sensor)) <= 0) return status;
        while (sensor != 0) {
            int32_t serial = 0;
            if ((status = zvXMLGetChildInt(document, sensor, "SerialNumber", &serial)) <= 0) return status;
            if (serial == entry->serialNumber) {
                if ((status = zvXMLSetChildFloat(document, sensor, "X", entry->x, 15)) <= 0) return status;
                if ((status = zvXMLSetChildFloat(document, sensor, "Y", entry->y, 15)) <= 0) return status;
                if ((status = zvXMLSetChildFloat(document, sensor, "T", entry->t, 15)) <= 0) return status;
                break;
            }
            if ((status = zvXMLGetNextSibling(document, sensor, &sensor)) <= 0) return status;
        }
    }
    return 1;
}

// The "CalibrationTarget" element under the root of a settings document.
zvStatus FindTarget(zvHandle document, zvXmlItem* target) {
    *target = 0;
    zvXmlItem root = 0;
    zvStatus status = zvXMLGetRoot(document, &root);
    if (status <= 0) return status;
    if (root == 0) return 0;
    if ((status = zvXMLFindBranchItem(document, root, "CalibrationTarget", 1, target)) <= 0) return status;
    return *target == 0 ? 0 : 1;
}

}  // namespace

zvStatus LoadCalibrationDocument(zvHandle engine, const char* path, zvHandle* document) {
    return ReadXmlDocumentFile(engine, path, kCalibrationAbsent, document);
}

zvStatus WriteCalibrationDocument(zvHandle document, const char* path, int32_t flush) {
    return WriteXmlDocumentFile(document, path, flush != 0);
}

zvStatus LoadCalibration(const char* path, zvHandle engine, CalibrationSet** set) {
    if (set == nullptr) return ZV_E_ARGUMENT;
    *set = nullptr;
    CalibrationSet* loaded = nullptr;
    zvStatus status = AllocateRecord(&loaded);
    if (status <= 0) return status;
    loaded->engine = engine;

    zvHandle document = 0;
    status = LoadCalibrationDocument(engine, path, &document);
    if (status > 0 && document != 0) {
        loaded->present = 1;
        status = DestroyDocument(document, ReadEntries(document, loaded));
    }
    if (status <= 0) {
        FreeCalibration(loaded);
        return status;
    }
    *set = loaded;
    return 1;
}

zvStatus SaveCalibration(const CalibrationSet* set, const char* path, int32_t flush) {
    if (set == nullptr) return ZV_E_ARGUMENT;
    zvHandle document = 0;
    zvStatus status = LoadCalibrationDocument(set->engine, path, &document);
    if (status <= 0) return status;
    if (document == 0) return 1;
    status = UpdateEntries(set, document);
    if (status > 0) status = WriteCalibrationDocument(document, path, flush);
    return DestroyDocument(document, status);
}

zvStatus FreeCalibration(CalibrationSet* set) {
    if (set == nullptr) return 1;
    if (set->entries != 0) {
        const zvStatus status = zvArrayListDestroy(set->entries);
        if (status <= 0) return status;
        set->entries = 0;
    }
    zvFree(set);
    return 1;
}

zvStatus ReadCalibrationTarget(zvHandle document, zvHandle vertices) {
    zvStatus status = CheckList(vertices, sizeof(zvPoint32s));
    if (status <= 0) return status;
    zvXmlItem target = 0;
    if ((status = FindTarget(document, &target)) <= 0) return status;
    zvXmlItem vertex = 0;
    if ((status = zvXMLGetFirstChild(document, target, &vertex)) <= 0) return status;
    while (vertex != 0) {
        zvPoint32s point = {0, 0};
        if ((status = zvXMLGetChildInt(document, vertex, "X", &point.x)) <= 0) return status;
        if ((status = zvXMLGetChildInt(document, vertex, "Y", &point.y)) <= 0) return status;
        if ((status = zvArrayListAdd(vertices, &point)) <= 0) return status;
        if ((status = zvXMLGetNextSibling(document, vertex, &vertex)) <= 0) return status;
    }
    return 1;
}

zvStatus WriteCalibrationTarget(zvHandle document, zvHandle vertices) {
    zvStatus status = CheckList(vertices, sizeof(zvPoint32s));
    if (status <= 0) return status;
    zvXmlItem target = 0;
    if ((status = FindTarget(document, &target)) <= 0) return status;

    zvXmlItem child = 0;
    if ((status = zvXMLGetFirstChild(document, target, &child)) <= 0) return status;
    while (child != 0) {
        if ((status = zvXMLDeleteItem(document, child)) <= 0) return status;
        if ((status = zvXMLGetFirstChild(document, target, &child)) <= 0) return status;
    }

    // Built from the last vertex to the first, each new one in front, so
    // the document ends in list order with "X" before "Y".
    for (int32_t i = zvArrayListCount(vertices) - 1; i >= 0; --i) {
        const auto* point = static_cast<const zvPoint32s*>(zvArrayListAt(vertices, i));
        if (point == nullptr) return ZV_E_RANGE;
        zvXmlItem vertex = 0;
        zvXmlItem coordinate = 0;
        if ((status = zvXMLCreateItem(document, target, ZV_XML_FIRST, "Vertex", "", &vertex)) <= 0) return status;
        if ((status = zvXMLCreateItem(document, vertex, ZV_XML_FIRST, "Y", "", &coordinate)) <= 0) return status;
        if ((status = zvXMLSetItemInt(document, coordinate, point->y)) <= 0) return status;
        if ((status = zvXMLCreateItem(document, vertex, ZV_XML_FIRST, "X", "", &coordinate)) <= 0) return status;
        if ((status = zvXMLSetItemInt(document, coordinate, point->x)) <= 0) return status;
    }
    return 1;
}
