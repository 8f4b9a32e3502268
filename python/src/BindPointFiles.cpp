// read_points: the point files of the nurbs program, parsed by the program's own reader
// (tools/PointReader.cpp is compiled into this module), so that the program and Python accept
// and refuse the same files, with the same messages.
#include "Common.h"

#include "PointReader.h"
#include "ToolError.h"

#include <cstring>
#include <string>

namespace velsdk_py {

namespace {

/// The points of the text of a point file as a (N, 2) or (N, 3) array, as many columns as the
/// file has. name only appears in error messages ("name:line: problem", raised as ValueError).
py::array_t<double> ParsePoints(const py::bytes& data, const std::string& name) {
    std::string text = data;  // a copy: the parse below runs without the GIL
    nurbs_tool::PointList list;
    std::string error;
    {
        py::gil_scoped_release release;
        try {
            list = nurbs_tool::PointReader::ParsePoints(text, name);
        } catch (const nurbs_tool::InputError& e) {
            error = e.what();
        }
    }
    if (!error.empty()) ThrowValue(error);
    const std::size_t n = list.points.size();
    const std::size_t dim = list.columns;
    py::array_t<double> out({static_cast<py::ssize_t>(n), static_cast<py::ssize_t>(dim)});
    double* o = out.mutable_data();
    for (std::size_t i = 0; i < n; ++i) std::memcpy(o + dim * i, list.points[i].v, dim * sizeof(double));
    return out;
}

}  // namespace

void BindPointFiles(py::module_& m) {
    m.def("_parse_points", &ParsePoints, py::arg("data"), py::arg("name"),
          "The points of the bytes of a point file, shape (N, 2) or (N, 3); ValueError naming name, the line "
          "and the problem. Used by read_points.");
}

}  // namespace velsdk_py
