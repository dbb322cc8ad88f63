# Sourced by the GIMP tests: from $version (2 for GIMP 2.10, 3 for GIMP 3), the GIMP program to run
# and the variable naming its profile folder. Exits 77 (skipped) when that GIMP is not installed.
if [ "$version" = 3 ]; then
  gimp_program=gimp-3.0 profile_variable=GIMP3_DIRECTORY
else
  gimp_program=gimp-2.10 profile_variable=GIMP2_DIRECTORY
fi
if ! command -v "$gimp_program" >/dev/null; then
  echo "skipped: $gimp_program is not installed (scripts/setup installs it)"
  exit 77
fi
