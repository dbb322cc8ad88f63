// tarvo_bench's plug-in for GIMP 3: registers the image procedure plug-in-tarvo-bench (run-mode,
// image, drawables, output path, iterations); gimp_bench_measure.cpp measures.
#include <libgimp/gimp.h>

#include <cstring>

#include "gimp_bench_measure.h"

namespace {

struct BenchPlugIn {
  GimpPlugIn parent_instance;
};
struct BenchPlugInClass {
  GimpPlugInClass parent_class;
};

GType bench_plug_in_get_type();
G_DEFINE_TYPE(BenchPlugIn, bench_plug_in, GIMP_TYPE_PLUG_IN)

GimpValueArray* run(GimpProcedure* procedure, GimpRunMode, GimpImage* image,
                    GimpDrawable** drawables, GimpProcedureConfig* config, gpointer) {
  gchar* output = nullptr;
  gint iterations = 0;
  g_object_get(config, "output", &output, "iterations", &iterations, nullptr);
  const bool done = drawables && drawables[0] && output &&
                    run_gimp_bench(gimp_image_get_id(image),
                                   gimp_item_get_id(GIMP_ITEM(drawables[0])), output, iterations);
  g_free(output);
  return gimp_procedure_new_return_values(
      procedure, done ? GIMP_PDB_SUCCESS : GIMP_PDB_EXECUTION_ERROR, nullptr);
}

GList* query_procedures(GimpPlugIn*) {
  return g_list_append(nullptr, g_strdup("plug-in-tarvo-bench"));
}

GimpProcedure* create_procedure(GimpPlugIn* plug_in, const gchar* name) {
  if (std::strcmp(name, "plug-in-tarvo-bench") != 0) return nullptr;
  GimpProcedure* procedure =
      gimp_image_procedure_new(plug_in, name, GIMP_PDB_PROC_TYPE_PLUGIN, run, nullptr, nullptr);
  gimp_procedure_set_image_types(procedure, "RGB*");
  gimp_procedure_set_documentation(procedure, "Times the Tarvo GIMP host", "tarvo_bench only",
                                   name);
  gimp_procedure_set_attribution(procedure, "Tarvo developers", "Tarvo developers", "2026");
  gimp_procedure_add_string_argument(procedure, "output", "Output", "Where the figures go", "",
                                     G_PARAM_READWRITE);
  gimp_procedure_add_int_argument(procedure, "iterations", "Iterations", "How many runs", 1, 100, 6,
                                  G_PARAM_READWRITE);
  return procedure;
}

void bench_plug_in_class_init(BenchPlugInClass* klass) {
  GimpPlugInClass* plug_in_class = GIMP_PLUG_IN_CLASS(klass);
  plug_in_class->query_procedures = query_procedures;
  plug_in_class->create_procedure = create_procedure;
}

void bench_plug_in_init(BenchPlugIn*) {}

}  // namespace

int main(int argc, char** argv) {
  return gimp_main(bench_plug_in_get_type(), argc, argv);
}
