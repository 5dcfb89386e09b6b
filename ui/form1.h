// Form1: the main window. The user types a Boolean search expression into the
// top box and presses Convert; the operator form and the sign form of the
// expression replace the contents of the two boxes below.

#ifndef BOOLCONV_UI_FORM1_H_
#define BOOLCONV_UI_FORM1_H_

#include <QString>
#include <QWidget>

#include "conversion/boolfuncs.h"

class QPlainTextEdit;
class QPushButton;

class Form1 : public QWidget {
  Q_OBJECT

 public:
  explicit Form1(QWidget* parent = nullptr);

 private:
  // Converts the whole input text and replaces both outputs with the result.
  // On a failed conversion the outputs stay as they were and a warning box
  // shows the reason.
  void Convert();

  // Shows a modal warning box with an OK button and waits until it is closed.
  // A long text (many lines, or long ones) shows its beginning, and the whole
  // text in a read-only scrollable area inside the box, which stays within
  // the screen.
  void ShowWarningBox(const QString& title, const QString& text);

  QPlainTextEdit* input_edit_;          // txtBoolean
  QPlainTextEdit* operator_form_edit_;  // txtBool2
  QPlainTextEdit* sign_form_edit_;      // txtWOSS
  QPushButton* convert_button_;         // cmdConvert
  boolconv::BoolFuncs engine_;
};

#endif  // BOOLCONV_UI_FORM1_H_
