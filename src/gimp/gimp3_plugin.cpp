// The GIMP 3 plug-in: a GimpPlugIn subclass whose image procedure plug-in-tarvo runs the canvas on
// the one layer selected in the image it is called with.
#include <libgimp/gimp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "gimp/gimp_session.h"

namespace {

constexpr char kProcedure[] = "plug-in-tarvo";

// The file descriptor GIMP writes to the plug-in on: GIMP 3 starts a plug-in as
// "PROGRAM -gimp PROTOCOL READ_FD WRITE_FD MODE STACK_TRACE_MODE".
int g_gimp_read_fd = -1;
// GIMP's quit callback takes no argument the plug-in chooses: the session under way fills this
// hook, so that the callback can keep its painting.
tarvo::GimpQuitHook g_quit_hook;
// Set as the procedure starts: whatever it answers, libgimp sends the answer as run returns, and
// GIMP then closes the pipes at once. libgimp's goodbye after it would race that close and often
// find the pipe gone ("gimp_flush(): error: Broken pipe"), so the process ends without it (quit
// below).
bool g_answered = false;

// GIMP ended while the canvas was open: the painting is kept, and nothing is written to the pipe
// again, not even the answer.
[[noreturn]] void end_without_gimp() {
  std::fflush(nullptr);
  std::_Exit(1);
}

struct TarvoPlugIn {
  GimpPlugIn parent_instance;
};
struct TarvoPlugInClass {
  GimpPlugInClass parent_class;
};

GType tarvo_plug_in_get_type();
G_DEFINE_TYPE(TarvoPlugIn, tarvo_plug_in, GIMP_TYPE_PLUG_IN)

GimpValueArray* fail(GimpProcedure* procedure, GimpPDBStatusType status, const std::string& why) {
  return gimp_procedure_new_return_values(procedure, status,
                                          g_error_new_literal(GIMP_PLUG_IN_ERROR, 0, why.c_str()));
}

GimpValueArray* run(GimpProcedure* procedure, GimpRunMode mode, GimpImage* image,
                    GimpDrawable** drawables, GimpProcedureConfig* config, gpointer /*data*/) {
  g_answered = true;
  int selected = 0;
  while (drawables && drawables[selected]) ++selected;
  if (selected == 0) {
    return fail(procedure, GIMP_PDB_CALLING_ERROR,
                "Tarvo paints on one layer: select a layer first");
  }
  // A script names its layer exactly; a user who selected several is told which one Tarvo takes.
  if (selected > 1 && mode == GIMP_RUN_NONINTERACTIVE) {
    return fail(procedure, GIMP_PDB_CALLING_ERROR,
                "Tarvo paints on one layer at a time, and " + std::to_string(selected) +
                    " are selected: select only the layer to paint on");
  }
  if (selected > 1) {
    gchar* name = gimp_item_get_name(GIMP_ITEM(drawables[0]));
    const std::string text = "Tarvo paints on one layer at a time: of the " +
                             std::to_string(selected) + " layers selected it paints on \"" +
                             (name ? name : "") + "\".";
    g_free(name);
    gimp_message(text.c_str());
  }
  gchar* script_text = nullptr;
  g_object_get(config, "script", &script_text, nullptr);
  const std::string script = script_text ? script_text : "";
  g_free(script_text);

  tarvo::GimpRun run;
  run.interactive = mode != GIMP_RUN_NONINTERACTIVE;
  run.image = gimp_image_get_id(image);
  run.drawable = gimp_item_get_id(GIMP_ITEM(drawables[0]));
  run.script = script;
  run.gimp_read_fd = g_gimp_read_fd;
  run.quit_hook = &g_quit_hook;
  if (!run.interactive && run.script.empty()) {
    return fail(procedure, GIMP_PDB_CALLING_ERROR,
                "plug-in-tarvo: a non-interactive run needs the path of an event script to replay");
  }
  if (run.interactive) tarvo::run_apart_from_gimp();
  gegl_init(nullptr, nullptr);
  // Failed calls come back to the plug-in, which says what went wrong in its own words.
  gimp_plug_in_set_pdb_error_handler(gimp_get_plug_in(), GIMP_PDB_ERROR_HANDLER_PLUGIN);
  const tarvo::GimpRunResult result = tarvo::run_on_gimp(run);
  if (result.gimp_gone) end_without_gimp();
  if (result.cancelled)
    return gimp_procedure_new_return_values(procedure, GIMP_PDB_CANCEL, nullptr);
  if (!result.success) return fail(procedure, GIMP_PDB_EXECUTION_ERROR, result.message);
  return gimp_procedure_new_return_values(procedure, GIMP_PDB_SUCCESS, nullptr);
}

GList* query_procedures(GimpPlugIn* /*plug_in*/) {
  return g_list_append(nullptr, g_strdup(kProcedure));
}

GimpProcedure* create_procedure(GimpPlugIn* plug_in, const gchar* name) {
  if (std::strcmp(name, kProcedure) != 0) return nullptr;
  GimpProcedure* procedure =
      gimp_image_procedure_new(plug_in, name, GIMP_PDB_PROC_TYPE_PLUGIN, run, nullptr, nullptr);
  gimp_procedure_set_image_types(procedure, "RGB*");
  // Several layers selected: the menu item stays available, and the run says which one it takes.
  gimp_procedure_set_sensitivity_mask(
      procedure, GIMP_PROCEDURE_SENSITIVE_DRAWABLE | GIMP_PROCEDURE_SENSITIVE_DRAWABLES);
  gimp_procedure_set_menu_label(procedure, "_Tarvo Paint...");
  gimp_procedure_add_menu_path(procedure, "<Image>/Filters/Artistic");
  gimp_procedure_set_documentation(
      procedure, "Paint on the layer with Tarvo's spline pen",
      "Opens Tarvo's canvas and tools panel on the selected layer. Paint with the mouse or a "
      "pressure tablet; \"Send image\" writes the painting back as one undo step, and closing the "
      "canvas writes it back too. Non-interactively, replays an event script on the layer and "
      "writes the result back.",
      name);
  gimp_procedure_set_attribution(procedure, "Tarvo developers", "Tarvo developers", "2026");
  gimp_procedure_add_string_argument(
      procedure, "script", "Script",
      "Path of a Tarvo event script (.tvs) to replay headless and write back; empty when "
      "painting interactively",
      "", G_PARAM_READWRITE);
  return procedure;
}

// The plug-in's texts are its own, in English: GIMP is told there is no catalogue to look for (it
// would otherwise say on every run that the catalogue's folder is missing).
gboolean set_i18n(GimpPlugIn* /*plug_in*/, const gchar* /*procedure*/, gchar** /*domain*/,
                  gchar** /*catalog*/) {
  return FALSE;
}

void quit(GimpPlugIn* /*plug_in*/) {
  if (g_quit_hook.leaving) g_quit_hook.leaving();
  if (g_answered) {
    std::fflush(nullptr);
    std::_Exit(0);
  }
}

void tarvo_plug_in_class_init(TarvoPlugInClass* klass) {
  GimpPlugInClass* plug_in_class = GIMP_PLUG_IN_CLASS(klass);
  plug_in_class->query_procedures = query_procedures;
  plug_in_class->create_procedure = create_procedure;
  plug_in_class->quit = quit;
  plug_in_class->set_i18n = set_i18n;
}

void tarvo_plug_in_init(TarvoPlugIn* /*plug_in*/) {}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 3 && std::strcmp(argv[1], "-gimp") == 0) g_gimp_read_fd = std::atoi(argv[3]);
  return gimp_main(tarvo_plug_in_get_type(), argc, argv);
}
