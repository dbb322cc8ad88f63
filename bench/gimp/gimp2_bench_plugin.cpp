// tarvo_bench's plug-in for GIMP 2.10: registers plug-in-tarvo-bench (run-mode, image, drawable,
// output path, iterations); gimp_bench_measure.cpp measures.
#include <libgimp/gimp.h>

#include "gimp_bench_measure.h"

namespace {

void query() {
  static const GimpParamDef arguments[] = {
      {GIMP_PDB_INT32, const_cast<gchar*>("run-mode"), const_cast<gchar*>("The run mode")},
      {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("Input image")},
      {GIMP_PDB_DRAWABLE, const_cast<gchar*>("drawable"), const_cast<gchar*>("An RGB layer")},
      {GIMP_PDB_STRING, const_cast<gchar*>("output"), const_cast<gchar*>("Where the figures go")},
      {GIMP_PDB_INT32, const_cast<gchar*>("iterations"), const_cast<gchar*>("How many runs")},
  };
  gimp_install_procedure("plug-in-tarvo-bench", "Times the Tarvo GIMP host", "tarvo_bench only",
                         "Tarvo developers", "Tarvo developers", "2026", nullptr, "RGB*",
                         GIMP_PLUGIN, G_N_ELEMENTS(arguments), 0, arguments, nullptr);
}

void run(const gchar*, gint count, const GimpParam* parameters, gint* result_count,
         GimpParam** results) {
  static GimpParam values[1];
  *results = values;
  *result_count = 1;
  values[0].type = GIMP_PDB_STATUS;
  const bool done =
      count >= 5 && run_gimp_bench(parameters[1].data.d_image, parameters[2].data.d_drawable,
                                   parameters[3].data.d_string, parameters[4].data.d_int32);
  values[0].data.d_status = done ? GIMP_PDB_SUCCESS : GIMP_PDB_EXECUTION_ERROR;
}

}  // namespace

const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, query, run};

int main(int argc, char** argv) {
  return gimp_main(&PLUG_IN_INFO, argc, argv);
}
