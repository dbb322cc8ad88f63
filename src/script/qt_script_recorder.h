#pragma once
// Writes the inputs of a session to an event script as they arrive, one line an input, each line
// flushed at once so that a crash loses nothing already done. The script starts with a comment
// naming the program version and the date, then the canvas's client size; a new Form_Resize line
// follows every change of the client size, since fitting the image to the window depends on it.

#include <QFile>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>

#include "script/event_sink.h"

namespace tarvo {

class Form1;
class ToolsPanel;

class ScriptRecorder : public QObject, public EventSink {
 public:
  // Creates (or empties) the file at path and writes the header. Raises ScriptError
  // "PATH: cannot create the event script: REASON" when it cannot.
  explicit ScriptRecorder(const QString& path);
  ~ScriptRecorder() override;

  // Becomes the event sink of the canvas and of its tools panel, and records the canvas's client
  // size now and at each change.
  void attach(Form1& form);

  void record(Verb verb, std::initializer_list<double> args) override;

  // False once a write has failed; from then on nothing more is written.
  bool ok() const { return ok_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void record_size(QSize size);
  void write_line(const std::string& line);

  QFile file_;
  QPointer<Form1> form_;
  // The canvas's tools panel, which lives as long as the canvas does.
  ToolsPanel* panel_ = nullptr;
  QSize recorded_size_;
  bool ok_ = true;
};

}  // namespace tarvo
