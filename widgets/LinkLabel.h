#pragma once
// An underlined link label: a click, or Enter or Space while it has focus, opens its target with
// the desktop's default handler (the web browser for web addresses). Assistive technology sees a
// link with a press action.

#include <QLabel>
#include <QUrl>

namespace quillet::widgets {

class LinkLabel : public QLabel {
  Q_OBJECT

 public:
  explicit LinkLabel(QWidget* parent = nullptr);
  LinkLabel(const QString& caption, const QUrl& target, QWidget* parent = nullptr);

  QUrl Target() const { return target_; }
  void SetTarget(const QUrl& target);
  // Opens the target; returns whether the desktop accepted it.
  bool Activate();

 signals:
  // Sent before the target is opened.
  void activated(const QUrl& target);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void ApplyLook();

  QUrl target_;
  bool pressed_ = false;
};

// Registers the factory that gives LinkLabel its accessible interface; safe to call repeatedly.
void InstallLinkLabelAccessibility();

}  // namespace quillet::widgets
