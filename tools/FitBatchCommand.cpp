// nurbs fit --batch DIR -o OUTDIR: fits every point file of a folder with the library's batch
// fit (all threads), writes one curve document per file and a CSV summary.
#include "Commands.h"

#include "CsvOutput.h"
#include "CurveFile.h"
#include "PointReader.h"
#include "Progress.h"
#include "ToolError.h"

#include <VelSDK/BatchFitting.h>
#include <VelSDK/V3dCurveNurbsPlus.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

namespace nurbs_tool {

namespace {

namespace fs = std::filesystem;
using Point3 = VelSDK::Math::point<double, 3>;

constexpr double kCoincident = 1.4901161193847656e-08;  // 2^-26, the fit's coincidence limit

// The extensions of point files taken from the folder (other files are left alone).
bool IsPointFile(const fs::path& p) {
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    const std::string name = p.filename().string();
    return !name.empty() && name[0] != '.' &&
           (ext == ".csv" || ext == ".txt" || ext == ".xyz" || ext == ".pts" || ext == ".dat");
}

// "# kind: closed ..." or "# kind: open ..." among the comment lines at the top of a file:
// 1 closed, 0 open, -1 none.
int KindHeader(const std::string& text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        const std::size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos) continue;
        if (line[first] != '#') break;  // the header ends at the first data or title line
        line = line.substr(first + 1);
        const std::size_t k = line.find_first_not_of(" \t");
        if (k == std::string::npos || line.compare(k, 5, "kind:") != 0) continue;
        const std::size_t v = line.find_first_not_of(" \t", k + 5);
        if (v == std::string::npos) continue;
        if (line.compare(v, 6, "closed") == 0) return 1;
        if (line.compare(v, 4, "open") == 0) return 0;
    }
    return -1;
}

// One file of the batch and what became of it.
struct Item {
    fs::path source;
    fs::path target;
    bool closed = false;
    PointList list;
    std::string error;  // empty while the file is fine
    std::size_t controlPoints = 0;
    double maxError = std::nan("");
};

// Reads and checks one file; errors go into item.error.
void Read(Item& item, bool closedDefault) {
    try {
        const std::string text = PointReader::ReadFile(item.source.string());
        const int kind = KindHeader(text);
        item.closed = kind < 0 ? closedDefault : kind == 1;
        item.list = PointReader::ParsePoints(text, item.source.string());
        std::vector<Point3>& pts = item.list.points;
        // A closed loop given with its first point repeated at the end (as nurbs fit does).
        if (item.closed && pts.size() >= 3 && kCoincident > VelSDK::Math::ScaledLength(pts.front() - pts.back())) {
            pts.pop_back();
            item.list.lines.pop_back();
        }
    } catch (const InputError& e) {
        item.error = e.what();
    }
}

// The library's reason, with point indices turned into the file's line numbers where it helps.
std::string Explain(const Item& item, const VelSDK::Batch::FitResult& r) {
    const std::vector<Point3>& pts = item.list.points;
    if (r.code == V3dCurve::CoincidentPoints)
        for (std::size_t i = 1; i < pts.size(); ++i)
            if (kCoincident > VelSDK::Math::ScaledLength(pts[i - 1] - pts[i]))
                return Where(item.source.string(), item.list.lines[i],
                             "this point coincides with the one on line " + std::to_string(item.list.lines[i - 1]));
    return Where(item.source.string(), 0, "the fit failed: " + r.error);
}

}  // namespace

int RunFitBatch(const FitBatchOptions& o) {
    const auto start = std::chrono::steady_clock::now();
    const std::string ext = o.format == "nrb" ? ".nrb" : ".xml";
    std::error_code ec;
    if (!fs::is_directory(o.folder, ec)) throw InputError(o.folder + ": not a folder");
    std::vector<Item> items;
    for (const fs::directory_entry& e : fs::directory_iterator(o.folder, ec)) {
        std::error_code fileEc;
        if (e.is_regular_file(fileEc) && IsPointFile(e.path())) {
            items.emplace_back();
            items.back().source = e.path();
        }
    }
    if (ec) throw InputError(o.folder + ": cannot list the folder: " + ec.message());
    if (items.empty()) throw InputError(o.folder + ": no point files (.csv, .txt, .xyz, .pts, .dat)");
    std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.source < b.source; });
    fs::create_directories(o.output, ec);
    if (ec || !fs::is_directory(o.output)) throw InputError(o.output + ": cannot create the output folder");
    // Two sources with one stem would write one document: the later one is refused.
    for (std::size_t i = 0; i < items.size(); ++i) {
        items[i].target = fs::path(o.output) / (items[i].source.stem().string() + ext);
        if (i > 0 && items[i].target == items[i - 1].target)
            items[i].error = Where(items[i].source.string(), 0,
                                   "another file of the same name also writes " + items[i].target.string());
    }

    V3dCurveNurbsPlus prototype;
    prototype.SetOrder(static_cast<unsigned char>(o.order));
    prototype.SetParametrization(o.param == "uniform" ? V3dCurveNurbsPlus::ParametrizationUniform
                                                      : V3dCurveNurbsPlus::ParametrizationChordLength);
    prototype.SetKnotsGeneration(o.knots == "uniform" ? V3dCurveNurbsPlus::KnotsUniform
                                                      : V3dCurveNurbsPlus::KnotsAveraging);

    // Blocks of files: read, fit the block on every thread, write; the progress advances per
    // block. Reading and writing stay on this thread.
    const std::size_t threads = o.jobs;
    const std::size_t block = 256;
    Progress progress("fit", items.size(), 1);
    for (std::size_t b = 0; b < items.size(); b += block) {
        const std::size_t e = std::min(items.size(), b + block);
        std::vector<std::vector<Point3>> lists;
        std::vector<bool> closed;
        std::vector<std::size_t> which;
        for (std::size_t i = b; i < e; ++i) {
            if (items[i].error.empty()) Read(items[i], o.closed);
            if (!items[i].error.empty()) continue;
            lists.push_back(items[i].list.points);
            closed.push_back(items[i].closed);
            which.push_back(i);
        }
        std::vector<VelSDK::Batch::FitResult> fits = VelSDK::Batch::FitMany(lists, closed, prototype, threads, true);
        for (std::size_t j = 0; j < which.size(); ++j) {
            Item& item = items[which[j]];
            const VelSDK::Batch::FitResult& r = fits[j];
            if (r.code != V3dCurve::Success) {
                item.error = Explain(item, r);
                continue;
            }
            item.controlPoints = r.curve.GetNumberControlPoints();
            item.maxError = r.maxDistance;
            try {
                CurveFile::Save(r.curve, item.target.string());
            } catch (const InputError& err) {
                item.error = err.what();
            }
        }
        progress.Update(e);
    }

    std::string csv = "file,closed,points,control_points,max_error,status,error\n";
    std::size_t failed = 0;
    for (const Item& item : items) {
        std::string line = item.source.filename().string() + "," + (item.closed ? "1" : "0") + "," +
                           std::to_string(item.list.points.size()) + "," + std::to_string(item.controlPoints) + "," +
                           (item.error.empty() ? CsvOutput::Format(item.maxError) : std::string("")) + "," +
                           (item.error.empty() ? "ok" : "failed") + ",";
        if (!item.error.empty()) {
            ++failed;
            std::string msg = item.error;
            std::replace(msg.begin(), msg.end(), ',', ';');  // one field
            std::replace(msg.begin(), msg.end(), '\n', ' ');
            line += msg;
        }
        csv += line + "\n";
    }
    WriteWholeFile((fs::path(o.output) / "summary.csv").string(), csv);
    for (const Item& item : items)
        if (!item.error.empty()) std::cerr << "nurbs fit: " << item.error << "\n";
    if (!o.quiet) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("fitted %zu of %zu files in %.2f s (%zu failed); curves and summary.csv in %s\n",
                    items.size() - failed, items.size(), seconds, failed, o.output.c_str());
    }
    return failed == 0 ? 0 : 1;
}

}  // namespace nurbs_tool
