#include "plugin/calibration.h"

#include <algorithm>

#include "plugin/settings.h"
#include "plugin/statuses.h"

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
    if ((status = zvArrayListInit(set->entries, zvTypeBlock(sizeof(CalibrationEntry)), 0, 1)) <= 0) return status;
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

// A sensor element and its serial number, for the look-up of a save.
struct SensorElement {
    int32_t serialNumber;
    int32_t order;  // among the root's children: the first of a serial number wins
    zvXmlItem item;
};

zvStatus UpdateEntries(const CalibrationSet* set, zvHandle document) {
    zvXmlItem root = 0;
    zvStatus status = zvXMLGetRoot(document, &root);
    if (status <= 0) return status;
    if (root == 0) return 0;
    if (set->entries != 0 && (status = CheckList(set->entries, sizeof(CalibrationEntry))) <= 0) return status;
    const int32_t count = zvArrayListCount(set->entries);

    // Every sensor element's serial number is read once and looked up by
    // each entry, so that a save stays proportional to the sensors.
    int32_t children = 0;
    zvXmlItem sensor = 0;
    if ((status = zvXMLGetFirstChild(document, root, &sensor)) <= 0) return status;
    for (; sensor != 0; ++children)
        if ((status = zvXMLGetNextSibling(document, sensor, &sensor)) <= 0) return status;
    auto* elements = static_cast<SensorElement*>(zvMalloc(sizeof(SensorElement) * (children > 0 ? children : 1)));
    if (elements == nullptr) return kTorvaneNoMemory;
    status = zvXMLGetFirstChild(document, root, &sensor);
    for (int32_t i = 0; status > 0 && i < children && sensor != 0; ++i) {
        elements[i] = SensorElement{0, i, sensor};
        status = zvXMLGetChildInt(document, sensor, "SerialNumber", &elements[i].serialNumber);
        if (status > 0) status = zvXMLGetNextSibling(document, sensor, &sensor);
    }
    const auto before = [](const SensorElement& a, const SensorElement& b) {
        return a.serialNumber != b.serialNumber ? a.serialNumber < b.serialNumber : a.order < b.order;
    };
    if (status > 0) std::sort(elements, elements + children, before);

    for (int32_t i = 0; status > 0 && i < count; ++i) {
        const auto* entry = static_cast<const CalibrationEntry*>(zvArrayListAt(set->entries, i));
        if (entry == nullptr) {
            status = ZV_E_RANGE;
            break;
        }
        const SensorElement key{entry->serialNumber, -1, 0};
        const SensorElement* match = std::lower_bound(elements, elements + children, key, before);
        if (match == elements + children || match->serialNumber != entry->serialNumber) continue;
        status = zvXMLSetChildFloat(document, match->item, "X", entry->x, 15);
        if (status > 0) status = zvXMLSetChildFloat(document, match->item, "Y", entry->y, 15);
        if (status > 0) status = zvXMLSetChildFloat(document, match->item, "T", entry->t, 15);
    }
    zvFree(elements);
    return status;
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
    return SaveXmlDocumentFile(set->engine, path, kCalibrationAbsent, flush != 0,
                               [set](zvHandle document) { return UpdateEntries(set, document); });
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
    return AppendTargetVertices(document, target, vertices);
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
