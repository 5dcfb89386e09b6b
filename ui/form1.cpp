#include "ui/form1.h"

#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <exception>
#include <new>
#include <utility>

namespace {

// Each box has a fixed place in the 448 x 341 client area; the form has no
// layout, so enlarging the window moves nothing.
QPlainTextEdit* MakeTextBox(QWidget* parent, const char* object_name,
                            const QString& accessible_name, int top) {
  auto* box = new QPlainTextEdit(parent);
  box->setObjectName(QString::fromLatin1(object_name));
  box->setAccessibleName(accessible_name);
  box->setGeometry(15, top, 417, 84);
  box->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  // Tab moves between the controls rather than typing a tab character.
  box->setTabChangesFocus(true);
  return box;
}

// The text as the box holds it. toPlainText() would also turn non-breaking
// spaces into spaces, which the engine treats as word breaks, so only the
// box's own line breaks (paragraph and line separators) become "\n".
QString BoxText(const QPlainTextEdit& box) {
  QString text = box.document()->toRawText();
  text.replace(QChar::ParagraphSeparator, u'\n');
  text.replace(QChar::LineSeparator, u'\n');
  return text;
}

}  // namespace

Form1::Form1(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Form1"));
  resize(448, 341);

  input_edit_ = MakeTextBox(this, "txtBoolean", QStringLiteral("Boolean expression"), 17);
  operator_form_edit_ = MakeTextBox(this, "txtBool2", QStringLiteral("Operator form"), 103);
  sign_form_edit_ = MakeTextBox(this, "txtWOSS", QStringLiteral("Sign form"), 198);

  convert_button_ = new QPushButton(QStringLiteral("Convert"), this);
  convert_button_->setObjectName(QStringLiteral("cmdConvert"));
  convert_button_->setGeometry(177, 297, 102, 32);
  // Enter in a box must add a line, never press the button.
  convert_button_->setAutoDefault(false);
  convert_button_->setDefault(false);
  connect(convert_button_, &QPushButton::clicked, this, &Form1::Convert);

  // Input, sign form, Convert, operator form, then round to the input again.
  QWidget::setTabOrder(input_edit_, sign_form_edit_);
  QWidget::setTabOrder(sign_form_edit_, convert_button_);
  QWidget::setTabOrder(convert_button_, operator_form_edit_);
  input_edit_->setFocus();
}

void Form1::Convert() {
  boolconv::Text input = BoxText(*input_edit_).toStdU16String();
  boolconv::Text operator_form;
  boolconv::Text sign_form;
  {
    // Tokenizer warnings appear as modal boxes over this window; the
    // conversion goes on once the user has closed each one.
    boolconv::ScopedWarningHandler warnings(
        [this](const boolconv::Text& title, const boolconv::Text& prompt, int32_t /*style*/) {
          // The engine raises only kWarningStyle: warning icon, OK only.
          ShowWarningBox(QString::fromStdU16String(title), QString::fromStdU16String(prompt));
        });
    // An exception must not escape into Qt's event loop, and a failed
    // conversion must not touch the results already on screen.
    try {
      engine_.ConvertBoolean(std::move(input), operator_form, sign_form);
    } catch (const boolconv::Error& error) {
      ShowWarningBox(QString::fromUtf16(boolconv::kAppName),
                     QString::fromStdU16String(error.description()));
      return;
    } catch (const std::bad_alloc&) {
      ShowWarningBox(QString::fromUtf16(boolconv::kAppName),
                     QStringLiteral("There is not enough memory to convert this expression."));
      return;
    } catch (const std::exception& error) {
      ShowWarningBox(QString::fromUtf16(boolconv::kAppName),
                     QStringLiteral("The expression could not be converted: %1")
                         .arg(QString::fromUtf8(error.what())));
      return;
    }
  }
  operator_form_edit_->setPlainText(QString::fromStdU16String(operator_form));
  sign_form_edit_->setPlainText(QString::fromStdU16String(sign_form));
}

void Form1::ShowWarningBox(const QString& title, const QString& text) {
  QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, this);
  // The text can quote the user's input, which must never be read as HTML.
  box.setTextFormat(Qt::PlainText);
  box.exec();
}
