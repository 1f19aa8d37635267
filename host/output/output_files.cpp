#include "output_files.hpp"

#include <system_error>

#include "describe.hpp"
#include "render.hpp"
#include "zvapi/zv_file_space.hpp"
#include "zvapi/zv_handle.hpp"

namespace zvhost {

namespace {

// A copy of `plot` whose axes carry the chart's axis texts (where it has
// them); null when the chart has none or the copy cannot be made.
zvHandle WithChartAxes(zvHandle plot, const zvChart& chart) {
    if (chart.XAxisText().empty() && chart.YAxisText().empty()) return nullptr;
    zvHandle copy = nullptr;
    if (zvDataClone(plot, nullptr, &copy) <= 0) return nullptr;
    if (!chart.XAxisText().empty()) zvPlotSetXTitle(copy, chart.XAxisText().c_str());
    if (!chart.YAxisText().empty()) zvPlotSetYTitle(copy, chart.YAxisText().c_str());
    return copy;
}

}  // namespace

bool WriteText(const std::filesystem::path& path, const std::string& text, std::string* error) {
    if (zv::files::WriteOutsideFile(path.string(), text) > 0) return true;
    *error = zvLastErrorText();
    return false;
}

// Writes the pictures or tables of one output; appends the files made.
bool WriteOutput(const std::filesystem::path& out, const std::string& mode, const zv::runner::Output& o,
                 std::vector<std::string>* written, std::string* error) {
    const std::string stem = (out / FileStem(mode, o.display.empty() ? o.label : o.display)).string();
    auto both = [&](auto render) {
        for (Format format : {Format::Png, Format::Svg}) {
            const std::string path = stem + (format == Format::Png ? ".png" : ".svg");
            if (!render(o.object, path, format, error)) return false;
            written->push_back(path);
        }
        return true;
    };
    switch (zvObjectType(o.object)) {
        case ZV_TYPE_PLOT: return both(RenderPlot);
        case ZV_TYPE_IMAGE: return both(RenderImage);
        case ZV_TYPE_POLARMODEL: return both(RenderPolarModel);
        case ZV_TYPE_ARRAYLIST: {
            const auto rows = TableRows(o.object);
            if (!WriteText(stem + ".json", TableJson(rows).dump(2) + "\n", error)) return false;
            written->push_back(stem + ".json");
            if (!WriteText(stem + ".txt", TableText(rows), error)) return false;
            written->push_back(stem + ".txt");
            return true;
        }
        case ZV_TYPE_STRING: {
            const char* text = zvStringChars(o.object);
            if (!WriteText(stem + ".txt", std::string(text ? text : "") + "\n", error)) return false;
            written->push_back(stem + ".txt");
            return true;
        }
        default: return true;
    }
}

std::string FileStem(const std::string& mode, const std::string& display) {
    std::string stem = mode + "-" + display;
    for (char& c : stem) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
        if (!keep) c = '_';
    }
    return stem;
}

bool WriteDisplays(HostLoop& loop, const std::filesystem::path& dir, std::vector<WrittenFile>* written,
                   std::string* error) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        *error = "cannot create " + dir.string() + ": " + ec.message();
        return false;
    }
    const std::string mode = loop.Connection().ClientMode();
    for (HostDisplay* display : loop.Displays().Of(mode)) {
        const zvHandle showing = display->Showing();
        if (showing == nullptr) continue;
        // A page's drawing shows with the axis texts the page gave the chart.
        const zv::OwnedPlot titled(
            showing == display->View().Shown() ? WithChartAxes(showing, *display->View().GetInnerControl()) : nullptr);
        const zvHandle picture = titled ? titled.Get() : showing;
        zv::runner::Output o{mode,   display->Name(), display->Kind(), true, display->Name(), zvObjectType(picture),
                             picture};
        std::vector<std::string> paths;
        const bool ok = WriteOutput(dir, mode, o, &paths, error);
        for (std::string& path : paths) written->push_back({mode, display->Name(), std::move(path)});
        if (!ok) return false;
    }
    return true;
}

}  // namespace zvhost
