#!/usr/bin/env bash
# The demo on real data: builds the nurbs program (if needed), fits closed and open curves
# through the measured and designed data sets of examples/data, segments them, projects
# noisy GPS fixes onto the fitted hike loop, fits the Maunga Whau volcano surface, and writes
# the XML documents, CSV tables and SVG plots into one folder (default: demo-output/).
#
#   scripts/demo.sh [OUTPUT_DIR]
#
# Environment: BUILD_DIR (default build/demo), JOBS (parallel build jobs), DEMO_DOCS=1 also
# refreshes the pictures of the user guide (docs/demo-*.svg).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=${1:-demo-output}
build=${BUILD_DIR:-build/demo}
data=examples/data

# --- 1. what the build needs (Debian packages; nothing happens when all are installed) -------
"$root/scripts/install-deps.sh" --demo

# --- 2. build the program ----------------------------------------------------------------------
gen=()
command -v ninja >/dev/null 2>&1 && gen=(-G Ninja)
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
if [ ! -f "$build/CMakeCache.txt" ]; then
  echo "demo: configuring $build"
  cmake -S . -B "$build" "${gen[@]}" "${launcher[@]}" -DCMAKE_BUILD_TYPE=Release -DVELSDK_NURBS_TESTS=OFF \
    -DVELSDK_NURBS_BENCH=OFF -DVELSDK_NURBS_PYTHON=OFF -DVELSDK_NURBS_EXAMPLES=OFF -DVELSDK_NURBS_TOOLS=ON >/dev/null
fi
echo "demo: building the nurbs program in $build (the first build takes a minute)"
cmake --build "$build" --target nurbs --parallel "${JOBS:-$(nproc)}" >/dev/null
nurbs="$root/$build/tools/nurbs"

mkdir -p "$out"
rm -f "$out"/*.xml "$out"/*.nrb "$out"/*.csv "$out"/*.svg "$out"/*.step "$out"/*.stl
now() { date +%s%N; }
ms() { echo $(( ($2 - $1) / 1000000 )); }
field() { sed -n "s/^$1: //p" | head -n 1 | cut -d' ' -f1; }
rows() { echo $(( $(wc -l <"$1") - 1 )); }

summary=()
row() { summary+=("$(printf '%-26s %-8s %7s %9s %13s %9s %7s' "$@")"); }
row "data set" "fit" "points" "control" "max interp." "segments" "ms"
row "" "" "" "points" "error" "" "fit+seg"

# fit_curve NAME FILE KIND TOLERANCE [fit options...]: fit, segment, plot; one summary row.
fit_curve() {
  local name=$1 file=$2 kind=$3 tol=$4
  shift 4
  local t0 t1 report
  t0=$(now)
  report=$("$nurbs" fit "$data/$file" "$@" -o "$out/$name.xml")
  "$nurbs" segment "$out/$name.xml" --tolerance "$tol" -o "$out/$name-polyline.csv"
  t1=$(now)
  "$nurbs" plot "$out/$name.xml" --points "$data/$file" --title "$name ($file)" -o "$out/$name.svg"
  row "$name" "$kind" "$(echo "$report" | field points)" "$(echo "$report" | field 'control points')" \
    "$(echo "$report" | field 'max interpolation error')" "$(( $(rows "$out/$name-polyline.csv") - 1 ))" "$(ms "$t0" "$t1")"
}

start=$(now)
echo "demo: fitting curves"
# Closed outlines: averaged knots (uniform knots under a closed loop are badly conditioned).
fit_curve glyph-S glyph_S.csv closed 0.5 --closed
fit_curve glyph-g glyph_g.csv closed 0.5 --closed
fit_curve glyph-ampersand glyph_ampersand.csv closed 0.5 --closed
fit_curve airfoil-naca2412 airfoil_naca2412.csv closed 0.0001 --closed
fit_curve gps-loop gps_loop_3d.csv closed 0.5 --closed
# Open curves: the upper airfoil surface with the end tangents its file suggests, the walk.
tangents=$(sed -n 's/^# end_tangents:.*start (\([^)]*\)), end (\([^)]*\)).*/\1;\2/p' "$data/airfoil_naca2412_upper.csv" | tr -d ' ')
fit_curve airfoil-upper airfoil_naca2412_upper.csv tangents 0.0001 \
  --start-tangent "${tangents%;*}" --end-tangent "${tangents#*;}"
fit_curve gps-walk gps_open_3d.csv open 0.5

echo "demo: approximating to a tolerance"
# approximate NAME FILE TOLERANCE: the fewest control points within the tolerance, drawn over the
# interpolant of the same points (fit_curve above) with every point coloured by its distance.
approx=()
approximate() {
  local name=$1 file=$2 tol=$3 t0 t1 report
  t0=$(now)
  report=$("$nurbs" fit "$data/$file" --closed --tolerance "$tol" -o "$out/$name-approx.xml")
  t1=$(now)
  "$nurbs" plot "$out/$name-approx.xml" --overlay "$out/$name.xml" --points "$data/$file" --error \
    --title "$name: approximation within $tol over the interpolant" -o "$out/$name-approx.svg"
  approx+=("$(printf '%-12s tolerance %-6s %4s control points (interpolant %s), max distance %s, rms %s, %s ms' \
    "$name" "$tol" "$(echo "$report" | field 'control points' | cut -d' ' -f1)" \
    "$(echo "$report" | field points)" "$(echo "$report" | field 'max distance' | cut -d' ' -f1)" \
    "$(echo "$report" | field 'rms distance')" "$(ms "$t0" "$t1")")")
}
approximate glyph-S glyph_S.csv 1.872
approximate gps-loop gps_loop_3d.csv 5

echo "demo: projecting noisy fixes, converting, splitting"
t0=$(now)
"$nurbs" project "$out/gps-loop.xml" "$data/proj_gps_loop_3d.csv" -o "$out/gps-loop-projections.csv"
t1=$(now)
# The global projection (the default) finds the nearest point of the whole loop; the local one
# (--local, Newton from a start value) is run beside it to count the fixes it would put on a
# branch of the loop that is not the nearest.
"$nurbs" project --local "$out/gps-loop.xml" "$data/proj_gps_loop_3d.csv" -o "$out/gps-loop-projections-local.csv"
# The query file holds noisy fixes near the loop and, at its end, a few deliberate far-field
# points (its "# generation:" line says which rows); they are reported apart, so that the
# distance of a far-field point is not read as a bad projection.
far=$(sed -n 's/^# generation:.*rows \([0-9]*\)\.\.[0-9]*: far-field.*/\1/p' "$data/proj_gps_loop_3d.csv")
pcsv="$out/gps-loop-projections.csv"
nrows=$(rows "$pcsv")
split=$(( ${far:-$(( nrows + 1 ))} - 1 ))  # rows 1..split are the noisy fixes (the index column counts from 0)
near=$(awk -F, -v n="$split" 'NR > 1 && $1 < n && $7 == 1 { print $6 }' "$pcsv" | sort -g)
near_conv=$(printf '%s\n' "$near" | grep -c . || true)
near_stats=$(printf '%s\n' "$near" | awk 'NF { d[++c] = $1 }
  END { if (c) printf "median distance %.1f m, max %.1f m", (c % 2 ? d[(c + 1) / 2] : (d[c / 2] + d[c / 2 + 1]) / 2), d[c] }')
far_d=$(awk -F, -v n="$split" 'NR > 1 && $1 >= n { printf "%s%s", s, ($7 == 1 ? sprintf("%.0f m", $6) : "not converged"); s = ", " }' "$pcsv")
# A fix is on a wrong branch when another point of the loop is nearer (by more than a
# millimetre) than the one answered: the global answer is the nearest, so it counts the local
# answers that are farther than the global ones, and the global answers farther than the local.
wrong() {
  paste -d, "$1" "$2" | awk -F, -v n="$split" 'NR > 1 && $1 < n && $7 == 1 && $14 == 1 && $6 > $13 + 0.001 { c++ } END { print c + 0 }'
}
wrong_global=$(wrong "$pcsv" "$out/gps-loop-projections-local.csv")
wrong_local=$(wrong "$out/gps-loop-projections-local.csv" "$pcsv")
proj_near="$split noisy fixes near the loop: ${near_stats:-none converged} ($near_conv of $split converged); on a wrong branch: $wrong_global (a local projection: $wrong_local)"
proj_far="$(( nrows - split )) far-field points, placed far from the loop on purpose, at: ${far_d:-none}"
# The picture shows the noisy fixes near the loop (the far-field points would shrink it).
awk -F, -v keep="$split" '/^#/ || /^x/ { print; next } { if (++n <= keep) print }' \
  "$data/proj_gps_loop_3d.csv" >"$out/gps-fixes-near.csv"
"$nurbs" plot "$out/gps-loop.xml" --points "$out/gps-fixes-near.csv" --project \
  --title "gps-loop: noisy fixes and their nearest curve points" -o "$out/gps-loop-projections.svg"
"$nurbs" plot "$out/gps-walk.xml" --view oblique --title "gps-walk (oblique view)" -o "$out/gps-walk-oblique.svg"
"$nurbs" convert "$out/gps-walk.xml" "$out/gps-walk.nrb"
"$nurbs" split "$out/gps-walk.nrb" --at 0.5 -o "$out/gps-walk-first-half.xml" "$out/gps-walk-second-half.xml" >/dev/null
"$nurbs" info "$out/gps-loop.xml" >"$out/gps-loop-info.txt"

echo "demo: fitting the volcano surface"
t2=$(now)
sreport=$("$nurbs" surface fit "$data/dem_volcano_61x87.csv" -o "$out/volcano.xml")
lreport=$("$nurbs" surface fit "$data/dem_volcano_61x87.csv" --count 16,22 -o "$out/volcano-least-squares.xml")
t3=$(now)
"$nurbs" plot "$out/volcano.xml" --title "Maunga Whau (volcano), interpolated" -o "$out/volcano.svg"
"$nurbs" plot "$out/volcano-least-squares.xml" --title "Maunga Whau, least squares 16 x 22" \
  -o "$out/volcano-least-squares.svg"
# The volcano again from 30 % of its points, scattered (no grid): a height field with the
# smoothing chosen by cross-validation, and the map of its vertical errors at those points.
t6=$(now)
vreport=$("$nurbs" surface fit --scattered "$data/dem_volcano_scattered30.csv" --error-svg "$out/volcano-scattered30-error.svg" \
  --report "$out/volcano-scattered30-error.csv" -o "$out/volcano-scattered30.xml")
t7=$(now)

# Many curves: 200 tracks derived from the GPS data (examples/python/gps_tracks.py, needs NumPy),
# fitted by one batch call of the program on every core.
batch_line=""
if /usr/bin/python3 -c "import numpy" 2>/dev/null; then
  echo "demo: fitting 200 derived GPS tracks in one batch"
  rm -rf "$out/tracks" "$out/track-curves"
  /usr/bin/python3 examples/python/gps_tracks.py -n 200 -o "$out/tracks" >/dev/null
  t4=$(now)
  "$nurbs" fit --batch "$out/tracks" -o "$out/track-curves" -q
  t5=$(now)
  batch_line="Batch: $(( $(rows "$out/track-curves/summary.csv") )) GPS tracks (300-400 points each) fitted in $(ms "$t4" "$t5") ms by 'nurbs fit --batch' (summary: $out/track-curves/summary.csv)"
fi
echo "demo: STEP for CAD programs, STL for mesh tools"
"$nurbs" convert "$out/volcano.xml" "$out/volcano.step" >/dev/null
"$nurbs" convert "$out/glyph-S.xml" "$out/glyph-S.step" >/dev/null
mreport=$("$nurbs" mesh "$out/volcano.xml" --tolerance 0.5 -o "$out/volcano.stl")
end=$(now)

if [ "${DEMO_DOCS:-0}" = 1 ]; then
  cp "$out/glyph-S.svg" docs/demo-glyph-S.svg
  cp "$out/gps-loop-projections.svg" docs/demo-gps-loop.svg
  cp "$out/volcano.svg" docs/demo-volcano.svg
fi

echo
echo "Curves (order 4; the fits interpolate the points; errors and tolerances in the data's units:"
echo "font units, airfoil chords, metres):"
printf '%s\n' "${summary[@]}"
echo
echo "Approximation to a tolerance (closed, periodic cubics; pictures *-approx.svg):"
printf '  %s\n' "${approx[@]}"
echo
echo "Projection of $nrows query points onto gps-loop ($(ms "$t0" "$t1") ms):"
echo "  $proj_near"
echo "  $proj_far"
echo "Surface fits of the 61 x 87 volcano grid ($(ms "$t2" "$t3") ms for both):"
echo "  interpolation: $(echo "$sreport" | field 'control points') x $(echo "$sreport" | sed -n 's/^control points: [0-9]* x //p') control points, max interpolation error $(echo "$sreport" | field 'max interpolation error') m"
echo "  least squares: 16 x 22 control points, max deviation $(echo "$lreport" | field 'max approximation error') m"
echo "Volcano from 30 % of its points, scattered ($(echo "$vreport" | field points) points, $(ms "$t6" "$t7") ms): $(echo "$vreport" | sed -n 's/^control points: //p' | cut -d' ' -f1-3) control points,"
echo "  smoothing $(echo "$vreport" | field smoothing) (cross-validation), vertical error max $(echo "$vreport" | field 'max vertical distance') m, rms $(echo "$vreport" | field 'rms vertical distance') m (map: volcano-scattered30-error.svg)"
[ -n "$batch_line" ] && echo "$batch_line"
echo "Exchange: volcano.step and glyph-S.step (STEP AP214); volcano.stl: $(echo "$mreport" | field triangles) triangles,"
echo "  max deviation $(echo "$mreport" | field 'max deviation (centroids and edge midpoints projected)') m from the surface (tolerance 0.5 m)"
echo
echo "Total time: $(ms "$start" "$end") ms. Documents, tables and plots in $out/:"
(cd "$out" && ls -- *.svg *.step *.stl | tr '\n' ' ')
echo
