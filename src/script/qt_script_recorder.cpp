#include "script/qt_script_recorder.h"

#include <QDateTime>
#include <QResizeEvent>
#include <iostream>
#include <span>

#include "canvas/qt_form1.h"
#include "script/event_script.h"

namespace tarvo {

ScriptRecorder::ScriptRecorder(const QString& path) : file_(path) {
  if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    throw ScriptError(path.toStdString(), 0,
                      "cannot create the event script: " + file_.errorString().toStdString());
  }
  const QString date = QDateTime::currentDateTime().toString(Qt::ISODate);
  write_line("# Tarvo " TARVO_VERSION " event script, recorded " + date.toStdString());
  if (!ok_) {
    throw ScriptError(path.toStdString(), 0,
                      "cannot write the event script: " + file_.errorString().toStdString());
  }
}

ScriptRecorder::~ScriptRecorder() {
  if (form_ && form_->event_sink() == this) form_->set_event_sink(nullptr);
  if (form_ && panel_ && panel_->event_sink() == this) panel_->set_event_sink(nullptr);
}

void ScriptRecorder::attach(Form1& form) {
  form_ = &form;
  form.set_event_sink(this);
  // The tools panel's inputs go to the same script, in the order they arrive.
  panel_ = form.program().panel;
  if (panel_) panel_->set_event_sink(this);
  form.canvas_area()->installEventFilter(this);
  record_size(QSize(form.client_width(), form.client_height()));
}

void ScriptRecorder::record(Verb verb, std::initializer_list<double> args) {
  write_line(format_line(verb, std::span<const double>(args.begin(), args.size())));
}

bool ScriptRecorder::eventFilter(QObject* watched, QEvent* event) {
  // Seen before the canvas handles the resize, so the size line comes before anything it causes.
  // The canvas works in device pixels; Qt reports the resize in logical ones.
  if (event->type() == QEvent::Resize) {
    record_size(form_->device_client_size(static_cast<QResizeEvent*>(event)->size()));
  }
  return QObject::eventFilter(watched, event);
}

void ScriptRecorder::record_size(QSize size) {
  if (size.isEmpty() || size == recorded_size_) return;
  recorded_size_ = size;
  record(Verb::Form_Resize, {double(size.width()), double(size.height())});
}

void ScriptRecorder::write_line(const std::string& line) {
  if (!ok_) return;
  const std::string text = line + '\n';
  const qint64 size = static_cast<qint64>(text.size());
  if (file_.write(text.data(), size) == size && file_.flush()) return;
  // Losing the recording must not cost the user the painting: say so once and go on without it.
  ok_ = false;
  std::cerr << "tarvo: " << file_.fileName().toStdString()
            << ": cannot write the event script, recording stopped: "
            << file_.errorString().toStdString() << std::endl;
}

}  // namespace tarvo
