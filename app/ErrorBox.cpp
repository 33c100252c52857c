#include "app/ErrorBox.h"

#include <QMessageBox>
#include <exception>

namespace quillet {

namespace {
ErrorPresenter& Presenter() {
  static ErrorPresenter presenter;
  return presenter;
}

void ShowCurrentException() {
  try {
    throw;
  } catch (const std::exception& e) {
    ShowErrorBox(QString::fromUtf8(e.what()));
  } catch (...) {
    ShowErrorBox(QString());  // an error of a kind without a message
  }
}
}  // namespace

void SetErrorPresenter(ErrorPresenter presenter) { Presenter() = std::move(presenter); }

void ShowErrorBox(const QString& message) {
  if (Presenter()) {
    Presenter()(message);
    return;
  }
  QMessageBox::critical(QApplication::activeWindow(), QStringLiteral("Quillet"), message);
}

void RunEventHandler(const std::function<void()>& handler) {
  try {
    handler();
  } catch (...) {
    ShowCurrentException();
  }
}

bool QuilletApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowCurrentException();
    return false;
  }
}

}  // namespace quillet
