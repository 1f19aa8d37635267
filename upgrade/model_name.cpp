// The station's model name, recorded in an XML file of the upgrade.
#include <cstring>

#include "brenvik.hpp"

namespace brenvik {

namespace {

// Closes a file object, keeping the first failure.
void CloseFile(zvHandle* file, zvStatus* status) {
    if (*file == nullptr) return;
    zvStatus closed = zvFileDestroy(*file);
    *file = nullptr;
    if (*status > 0 && closed <= 0) *status = closed;
}

// Keeps a file opened for writing from replacing the old one when it is
// closed: the file space never commits a file after a failed write, and a
// write of a negative size always fails.
void AbandonWrite(zvHandle file) {
    if (file != nullptr) zvFileWrite(file, nullptr, -1);
}

}  // namespace

zvStatus SetModelName(winsvc::Services& services, const char* file, const char* model) {
    if (file == nullptr || model == nullptr) return ZV_E_ARGUMENT;
    if (std::strlen(file) >= kPathMax) return ZV_E_RANGE;

    uint32_t attributes = services.GetFileAttributesA(file);
    if (attributes == winsvc::kInvalidFileAttributes) return kNotWritable;
    if ((attributes & winsvc::kFileAttributeReadonly) != 0) {
        // Made writable for good: the upgrade writes the file again later.
        uint32_t writable = attributes & ~winsvc::kFileAttributeReadonly;
        if (writable == 0) writable = winsvc::kFileAttributeNormal;
        if (!services.SetFileAttributesA(file, writable)) return kNotWritable;
    }

    zvHandle document = nullptr;
    zvHandle stream = nullptr;
    zvStatus status = zvXMLCreate(&document, nullptr);
    if (status > 0) status = zvXMLInit(document, 0);
    if (status > 0) status = zvFileCreate(&stream, nullptr);
    if (status > 0) status = zvFileInit(stream, file, ZV_FILE_READ);
    if (status > 0) status = zvXMLRead(document, stream);
    CloseFile(&stream, &status);

    zvXmlItem root = 0;
    zvXmlItem item = 0;
    if (status > 0) status = zvXMLGetRoot(document, &root);
    if (status > 0 && root == 0) status = ZV_E_FAIL;  // a document without a root element
    if (status > 0) status = zvXMLFindBranchItem(document, root, "Model", 1, &item);
    if (status > 0) {
        status = item != 0 ? zvXMLSetItemString(document, item, model)
                           : zvXMLCreateItem(document, root, ZV_XML_LAST, "Model", model, &item);
    }

    // The new text replaces the file only when the written file is closed
    // whole; any failure before leaves the old file.
    if (status > 0) status = zvFileCreate(&stream, nullptr);
    if (status > 0) status = zvFileInit(stream, file, ZV_FILE_WRITE);
    if (status > 0) {
        status = zvXMLWrite(document, stream);
        if (status <= 0) AbandonWrite(stream);
    }
    CloseFile(&stream, &status);

    if (document != nullptr) zvXMLDestroy(document);
    return status > 0 ? ZV_OK : status;
}

}  // namespace brenvik
