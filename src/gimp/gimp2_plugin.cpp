// The GIMP 2.10 plug-in: registers the procedure plug-in-tarvo and runs the canvas on the drawable
// it is called with.
#include <libgimp/gimp.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "gimp/gimp_session.h"

namespace {

constexpr char kProcedure[] = "plug-in-tarvo";

// The file descriptor GIMP writes to the plug-in on: GIMP starts a plug-in as
// "PROGRAM -gimp READ_FD WRITE_FD MODE STACK_TRACE_MODE".
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

void query() {
  static const GimpParamDef arguments[] = {
      {GIMP_PDB_INT32, const_cast<gchar*>("run-mode"),
       const_cast<gchar*>("The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1) }")},
      {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("Input image")},
      {GIMP_PDB_DRAWABLE, const_cast<gchar*>("drawable"),
       const_cast<gchar*>("The RGB layer or channel to paint on")},
      {GIMP_PDB_STRING, const_cast<gchar*>("script"),
       const_cast<gchar*>("Path of a Tarvo event script (.tvs) to replay headless and write "
                          "back; empty when painting interactively")},
  };
  gimp_install_procedure(
      kProcedure, "Paint on the layer with Tarvo's spline pen",
      "Opens Tarvo's canvas and tools panel on the active layer. Paint with the mouse or a "
      "pressure tablet; \"Send image\" writes the painting back as one undo step, and closing the "
      "canvas writes it back too. Non-interactively, replays an event script on the layer and "
      "writes the result back.",
      "Tarvo developers", "Tarvo developers", "2026", "_Tarvo Paint...", "RGB*", GIMP_PLUGIN,
      G_N_ELEMENTS(arguments), 0, arguments, nullptr);
  gimp_plugin_menu_register(kProcedure, "<Image>/Filters/Artistic");
}

void run(const gchar* /*name*/, gint count, const GimpParam* parameters, gint* result_count,
         GimpParam** results) {
  g_answered = true;
  static GimpParam values[2];
  static std::string message;
  *results = values;
  *result_count = 1;
  values[0].type = GIMP_PDB_STATUS;
  values[0].data.d_status = GIMP_PDB_SUCCESS;
  const auto fail = [&](GimpPDBStatusType status, const std::string& why) {
    message = why;
    values[0].data.d_status = status;
    values[1].type = GIMP_PDB_STRING;
    values[1].data.d_string = const_cast<gchar*>(message.c_str());
    *result_count = 2;
  };
  if (count < 3) {
    fail(GIMP_PDB_CALLING_ERROR, "plug-in-tarvo takes run-mode, image, drawable and script");
    return;
  }
  const auto mode = static_cast<GimpRunMode>(parameters[0].data.d_int32);
  if (mode != GIMP_RUN_NONINTERACTIVE) tarvo::run_apart_from_gimp();
  gegl_init(nullptr, nullptr);
  // Failed calls come back to the plug-in, which says what went wrong in its own words.
  gimp_plugin_set_pdb_error_handler(GIMP_PDB_ERROR_HANDLER_PLUGIN);

  tarvo::GimpRun run;
  run.interactive = mode != GIMP_RUN_NONINTERACTIVE;
  run.image = parameters[1].data.d_image;
  run.drawable = parameters[2].data.d_drawable;
  if (count > 3 && parameters[3].data.d_string) run.script = parameters[3].data.d_string;
  run.gimp_read_fd = g_gimp_read_fd;
  run.quit_hook = &g_quit_hook;
  if (!run.interactive && run.script.empty()) {
    fail(GIMP_PDB_CALLING_ERROR,
         "plug-in-tarvo: a non-interactive run needs the path of an event script to replay");
    return;
  }
  const tarvo::GimpRunResult result = tarvo::run_on_gimp(run);
  if (result.gimp_gone) end_without_gimp();
  if (result.cancelled) {
    values[0].data.d_status = GIMP_PDB_CANCEL;
  } else if (!result.success) {
    fail(GIMP_PDB_EXECUTION_ERROR, result.message);
  }
}

void quit() {
  if (g_quit_hook.leaving) g_quit_hook.leaving();
  if (g_answered) {
    std::fflush(nullptr);
    std::_Exit(0);
  }
}

}  // namespace

const GimpPlugInInfo PLUG_IN_INFO = {nullptr, quit, query, run};

int main(int argc, char** argv) {
  if (argc > 2) g_gimp_read_fd = std::atoi(argv[2]);
  return gimp_main(&PLUG_IN_INFO, argc, argv);
}
