#pragma once
// The application's standard error box, and the one place that catches an exception escaping an
// event handler: the handler's action ends, the box shows the exception's message, and the program
// goes on.

#include <QApplication>
#include <QString>
#include <functional>

namespace quillet {

using ErrorPresenter = std::function<void(const QString& message)>;

// Replaces how the box is shown; tests record the message instead of opening a modal box.
void SetErrorPresenter(ErrorPresenter presenter);
void ShowErrorBox(const QString& message);

// Runs one event handler; an exception escaping it is shown in the error box. Every handler the
// window binds goes through here, so that no exception unwinds through the toolkit's frames.
void RunEventHandler(const std::function<void()>& handler);

// Wraps a handler for a signal connection, whatever the signal's arguments.
template <class Handler>
auto EventHandler(Handler handler) {
  return [handler](auto&&...) { RunEventHandler(handler); };
}

// Catches what escapes any other event processing the same way.
class QuilletApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace quillet
