// Recorded results in JSON lines.
#include "zvstation/replay.hpp"

#include <cstring>
#include <fstream>
#include <limits>

#include <nlohmann/json.hpp>

#include "results.hpp"

namespace zv::station {

namespace {

using nlohmann::json;

struct TypeInfo {
    const char* name;
    int32_t type;
    int components;  // numbers per element
    int size;        // bytes per component
    bool isFloat;
    double lo, hi;   // range of each component
};

const TypeInfo kTypes[] = {
    {"int8", ZV_TYPE_INT8, 1, 1, false, -128, 127},
    {"uint8", ZV_TYPE_UINT8, 1, 1, false, 0, 255},
    {"int16", ZV_TYPE_INT16, 1, 2, false, -32768, 32767},
    {"uint16", ZV_TYPE_UINT16, 1, 2, false, 0, 65535},
    {"int32", ZV_TYPE_INT32, 1, 4, false, -2147483648.0, 2147483647.0},
    {"uint32", ZV_TYPE_UINT32, 1, 4, false, 0, 4294967295.0},
    {"int64", ZV_TYPE_INT64, 1, 8, false, -9.2e18, 9.2e18},
    {"uint64", ZV_TYPE_UINT64, 1, 8, false, 0, 1.85e19},
    {"float32", ZV_TYPE_FLOAT32, 1, 4, true, -3.4e38, 3.4e38},
    {"float64", ZV_TYPE_FLOAT64, 1, 8, true, -1.7e308, 1.7e308},
    {"point32", ZV_TYPE_POINT32, 2, 4, false, -2147483648.0, 2147483647.0},
    // encoder (int64), time (uint64), input state (int32)
    {"stamp", ZV_TYPE_STAMP, 3, 8, false, -9.2e18, 9.2e18},
};

const TypeInfo* FindType(const std::string& name) {
    for (const TypeInfo& t : kTypes)
        if (name == t.name) return &t;
    return nullptr;
}

const TypeInfo* FindType(int32_t type) {
    for (const TypeInfo& t : kTypes)
        if (type == t.type) return &t;
    return nullptr;
}

// Refuses arrays larger than this many elements (a guard against a line
// whose dimensions would make the station allocate without end).
constexpr int64_t kMaxElements = int64_t{1} << 26;

struct Array {
    const TypeInfo* type;
    std::vector<int32_t> lengths;
    std::vector<json> values;  // flat, components of each element in turn
};

struct Record {
    int64_t id = 0;
    std::vector<int64_t> attributes;
    std::vector<Array> data;
};

int64_t AsInt64(const json& v, const std::string& what) {
    if (v.is_number_integer()) return v.get<int64_t>();
    if (v.is_number_unsigned()) return static_cast<int64_t>(v.get<uint64_t>());
    throw std::runtime_error(what + " is not an integer");
}

Array ParseArray(const json& item, size_t index) {
    const std::string where = "data " + std::to_string(index);
    if (!item.is_object()) throw std::runtime_error(where + " is not an object");
    Array a;
    if (!item.contains("type") || !item["type"].is_string()) throw std::runtime_error(where + ": no \"type\"");
    a.type = FindType(item["type"].get<std::string>());
    if (a.type == nullptr)
        throw std::runtime_error(where + ": unknown element type \"" + item["type"].get<std::string>() + "\"");
    if (!item.contains("dims") || !item["dims"].is_array() || item["dims"].empty() || item["dims"].size() > 3)
        throw std::runtime_error(where + ": \"dims\" must list 1 to 3 lengths");
    int64_t elements = 1;
    for (const json& d : item["dims"]) {
        const int64_t length = AsInt64(d, where + ": a length");
        if (length < 0 || length > INT32_MAX) throw std::runtime_error(where + ": length out of range");
        elements *= length;
        if (elements > kMaxElements) throw std::runtime_error(where + ": too many elements");
        a.lengths.push_back(static_cast<int32_t>(length));
    }
    if (!item.contains("values") || !item["values"].is_array()) throw std::runtime_error(where + ": no \"values\"");
    const json& values = item["values"];
    const int64_t expected = elements * a.type->components;
    if (static_cast<int64_t>(values.size()) != expected)
        throw std::runtime_error(where + ": " + std::to_string(values.size()) + " values for dims " +
                                 item["dims"].dump() + " (expected " + std::to_string(expected) + ")");
    for (size_t i = 0; i < values.size(); ++i) {
        const json& v = values[i];
        if (!v.is_number() || (!a.type->isFloat && v.is_number_float()))
            throw std::runtime_error(where + ": value " + std::to_string(i) + " is not " +
                                     (a.type->isFloat ? "a number" : "an integer"));
        const double d = v.get<double>();
        if (d < a.type->lo || d > a.type->hi)
            throw std::runtime_error(where + ": value " + std::to_string(i) + " out of range for " + a.type->name);
    }
    a.values = values.get<std::vector<json>>();
    return a;
}

template <typename T>
void Store(unsigned char* at, const json& v) {
    T value;
    if constexpr (std::is_floating_point_v<T>) {
        value = static_cast<T>(v.get<double>());
    } else if constexpr (std::is_unsigned_v<T>) {
        value = static_cast<T>(v.is_number_unsigned() ? v.get<uint64_t>() : static_cast<uint64_t>(v.get<int64_t>()));
    } else {
        value = static_cast<T>(v.get<int64_t>());
    }
    std::memcpy(at, &value, sizeof value);
}

void Fill(const Array& a, unsigned char* out) {
    const size_t n = a.values.size();
    switch (a.type->type) {
        case ZV_TYPE_INT8: for (size_t i = 0; i < n; ++i) Store<int8_t>(out + i, a.values[i]); break;
        case ZV_TYPE_UINT8: for (size_t i = 0; i < n; ++i) Store<uint8_t>(out + i, a.values[i]); break;
        case ZV_TYPE_INT16: for (size_t i = 0; i < n; ++i) Store<int16_t>(out + 2 * i, a.values[i]); break;
        case ZV_TYPE_UINT16: for (size_t i = 0; i < n; ++i) Store<uint16_t>(out + 2 * i, a.values[i]); break;
        case ZV_TYPE_INT32:
        case ZV_TYPE_POINT32: for (size_t i = 0; i < n; ++i) Store<int32_t>(out + 4 * i, a.values[i]); break;
        case ZV_TYPE_UINT32: for (size_t i = 0; i < n; ++i) Store<uint32_t>(out + 4 * i, a.values[i]); break;
        case ZV_TYPE_INT64: for (size_t i = 0; i < n; ++i) Store<int64_t>(out + 8 * i, a.values[i]); break;
        case ZV_TYPE_UINT64: for (size_t i = 0; i < n; ++i) Store<uint64_t>(out + 8 * i, a.values[i]); break;
        case ZV_TYPE_FLOAT32: for (size_t i = 0; i < n; ++i) Store<float>(out + 4 * i, a.values[i]); break;
        case ZV_TYPE_FLOAT64: for (size_t i = 0; i < n; ++i) Store<double>(out + 8 * i, a.values[i]); break;
        case ZV_TYPE_STAMP:
            for (size_t e = 0; e * 3 < n; ++e) {
                zvStamp stamp{};
                stamp.encoder = a.values[3 * e].get<int64_t>();
                const json& t = a.values[3 * e + 1];
                stamp.time = t.is_number_unsigned() ? t.get<uint64_t>() : static_cast<uint64_t>(t.get<int64_t>());
                stamp.inputState = static_cast<int32_t>(a.values[3 * e + 2].get<int64_t>());
                std::memcpy(out + e * sizeof(zvStamp), &stamp, sizeof stamp);
            }
            break;
        default:
            break;
    }
}

}  // namespace

struct Replay::Impl {
    std::vector<std::vector<Record>> batches;
    size_t next = 0;
};

Replay::Replay() : impl_(std::make_unique<Impl>()) {}
Replay::~Replay() = default;

bool Replay::Load(const std::filesystem::path& file, std::string* error) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        *error = "cannot open " + file.string();
        return false;
    }
    return Load(in, error);
}

namespace {

// Lines read so far, and the batch the last line belonged to: a batch that
// continues from one file into the next stays one batch.
struct Reading {
    std::vector<std::vector<Record>> batches;
    bool haveBatch = false;
    int64_t lastBatch = 0;
};

bool ReadLines(std::istream& in, Reading* reading, std::string* error) {
    std::vector<std::vector<Record>>& batches = reading->batches;
    bool& haveBatch = reading->haveBatch;
    int64_t& lastBatch = reading->lastBatch;
    std::string line;
    size_t number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        try {
            const json j = json::parse(line);
            if (!j.is_object()) throw std::runtime_error("not a JSON object");
            Record record;
            if (!j.contains("id")) throw std::runtime_error("no \"id\"");
            record.id = AsInt64(j["id"], "\"id\"");
            if (j.contains("attributes")) {
                if (!j["attributes"].is_array()) throw std::runtime_error("\"attributes\" is not a list");
                for (const json& a : j["attributes"]) record.attributes.push_back(AsInt64(a, "an attribute"));
            }
            if (j.contains("data")) {
                if (!j["data"].is_array()) throw std::runtime_error("\"data\" is not a list");
                for (size_t i = 0; i < j["data"].size(); ++i) record.data.push_back(ParseArray(j["data"][i], i));
            }
            bool joins = false;
            if (j.contains("batch")) {
                const int64_t batch = AsInt64(j["batch"], "\"batch\"");
                joins = haveBatch && batch == lastBatch && !batches.empty();
                haveBatch = true;
                lastBatch = batch;
            } else {
                haveBatch = false;
            }
            if (!joins) batches.emplace_back();
            batches.back().push_back(std::move(record));
        } catch (const std::exception& e) {
            *error = "line " + std::to_string(number) + ": " + e.what();
            return false;
        }
    }
    return true;
}

}  // namespace

bool Replay::Load(std::istream& in, std::string* error) {
    impl_->batches.clear();
    impl_->next = 0;
    Reading reading;
    if (!ReadLines(in, &reading, error)) return false;
    impl_->batches = std::move(reading.batches);
    return true;
}

bool Replay::Load(const std::vector<std::filesystem::path>& files, std::string* error) {
    impl_->batches.clear();
    impl_->next = 0;
    Reading reading;
    for (const std::filesystem::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            *error = "cannot open " + file.string();
            return false;
        }
        if (!ReadLines(in, &reading, error)) {
            if (files.size() > 1) *error = file.string() + ": " + *error;
            return false;
        }
    }
    impl_->batches = std::move(reading.batches);
    return true;
}

size_t Replay::BatchCount() const { return impl_->batches.size(); }

size_t Replay::ResultCount() const {
    size_t n = 0;
    for (const auto& b : impl_->batches) n += b.size();
    return n;
}

zvStatus Replay::NextBatch(std::vector<zvHandle>* payloads) {
    if (payloads == nullptr) return ZV_E_ARGUMENT;
    if (impl_->next >= impl_->batches.size()) return ZV_OK;
    std::vector<zvHandle> made;
    for (const Record& record : impl_->batches[impl_->next]) {
        ResultBuilder r;
        zvStatus status = r.Init(record.id, record.attributes);
        for (size_t i = 0; status > 0 && i < record.data.size(); ++i) {
            void* elements = r.AddArray(record.data[i].type->type, record.data[i].lengths, &status);
            if (elements != nullptr) Fill(record.data[i], static_cast<unsigned char*>(elements));
        }
        if (status <= 0) {
            for (zvHandle h : made) zvObjectDestroy(h);
            return status;
        }
        made.push_back(r.Release());
    }
    ++impl_->next;
    payloads->insert(payloads->end(), made.begin(), made.end());
    return ZV_OK;
}

int32_t ReplayElementType(const std::string& name) {
    const TypeInfo* t = FindType(name);
    return t ? t->type : 0;
}

std::string ReplayTypeName(int32_t type) {
    const TypeInfo* t = FindType(type);
    return t ? t->name : "";
}

std::string ReplayLine(zvHandle result, int64_t batch) {
    if (!zvObjectIs(result, ZV_TYPE_RESULT)) return "";
    json j;
    j["batch"] = batch;
    int64_t id = 0;
    zvResultId(result, &id);
    j["id"] = id;
    int32_t count = 0;
    zvResultAttributeCount(result, &count);
    json attributes = json::array();
    for (int32_t i = 0; i < count; ++i) {
        int64_t v = 0;
        zvResultAttributeAt(result, i, &v);
        attributes.push_back(v);
    }
    j["attributes"] = attributes;
    json data = json::array();
    int32_t arrays = 0;
    zvResultCount(result, &arrays);
    for (int32_t i = 0; i < arrays; ++i) {
        zvHandle array = nullptr;
        if (zvResultData(result, i, &array) <= 0) continue;
        const TypeInfo* t = FindType(zvArrayElementType(array));
        if (t == nullptr) continue;
        json a;
        a["type"] = t->name;
        json dims = json::array();
        int64_t elements = 1;
        for (int32_t d = 0; d < zvArrayDimensions(array); ++d) {
            dims.push_back(zvArrayLength(array, d));
            elements *= zvArrayLength(array, d);
        }
        a["dims"] = dims;
        json values = json::array();
        const auto* p = static_cast<const unsigned char*>(ArrayElements(array));
        for (int64_t e = 0; p != nullptr && e < elements; ++e) {
            const unsigned char* at = p + e * (t->type == ZV_TYPE_STAMP ? sizeof(zvStamp) : t->components * t->size);
            switch (t->type) {
                case ZV_TYPE_INT8: values.push_back(*reinterpret_cast<const int8_t*>(at)); break;
                case ZV_TYPE_UINT8: values.push_back(*at); break;
                case ZV_TYPE_INT16: { int16_t v; std::memcpy(&v, at, 2); values.push_back(v); break; }
                case ZV_TYPE_UINT16: { uint16_t v; std::memcpy(&v, at, 2); values.push_back(v); break; }
                case ZV_TYPE_INT32: { int32_t v; std::memcpy(&v, at, 4); values.push_back(v); break; }
                case ZV_TYPE_UINT32: { uint32_t v; std::memcpy(&v, at, 4); values.push_back(v); break; }
                case ZV_TYPE_INT64: { int64_t v; std::memcpy(&v, at, 8); values.push_back(v); break; }
                case ZV_TYPE_UINT64: { uint64_t v; std::memcpy(&v, at, 8); values.push_back(v); break; }
                case ZV_TYPE_FLOAT32: { float v; std::memcpy(&v, at, 4); values.push_back(v); break; }
                case ZV_TYPE_FLOAT64: { double v; std::memcpy(&v, at, 8); values.push_back(v); break; }
                case ZV_TYPE_POINT32: {
                    int32_t v[2];
                    std::memcpy(v, at, 8);
                    values.push_back(v[0]);
                    values.push_back(v[1]);
                    break;
                }
                case ZV_TYPE_STAMP: {
                    zvStamp s;
                    std::memcpy(&s, at, sizeof s);
                    values.push_back(s.encoder);
                    values.push_back(s.time);
                    values.push_back(s.inputState);
                    break;
                }
                default: break;
            }
        }
        a["values"] = values;
        data.push_back(a);
    }
    j["data"] = data;
    return j.dump();
}

}  // namespace zv::station
