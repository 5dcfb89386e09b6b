// Drives Form1 with real key and mouse events on the offscreen platform.

#include "ui/form1.h"

#include <QApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <memory>
#include <vector>

#include "conversion/boolfuncs.h"

namespace {

enum class Trigger { kClick, kSpace };

// What one modal box showed, and the outputs on screen while it was open.
struct SeenBox {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  Qt::TextFormat format = Qt::AutoText;
  QString title;
  QString text;
  QString operator_form_meanwhile;
  QString sign_form_meanwhile;
};

// While it lives, closes every modal box that opens (with a mouse click on
// its OK button) after recording it. Polling from a timer works because the
// box's own event loop keeps timers running.
class ModalBoxCloser : public QObject {
 public:
  explicit ModalBoxCloser(const QWidget& form) : form_(form) {
    connect(&timer_, &QTimer::timeout, this, &ModalBoxCloser::CloseActiveBox);
    timer_.start(10);
  }
  const std::vector<SeenBox>& seen() const { return seen_; }

 private:
  void CloseActiveBox() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    SeenBox seen;
    seen.operator_form_meanwhile =
        form_.findChild<QPlainTextEdit*>(QStringLiteral("txtBool2"))->toPlainText();
    seen.sign_form_meanwhile =
        form_.findChild<QPlainTextEdit*>(QStringLiteral("txtWOSS"))->toPlainText();
    seen.icon = box->icon();
    seen.buttons = box->standardButtons();
    seen.format = box->textFormat();
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen_.push_back(seen);
    if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
      QTest::mouseClick(ok, Qt::LeftButton);
    } else {
      box->done(0);
    }
  }

  const QWidget& form_;
  QTimer timer_;
  std::vector<SeenBox> seen_;
};

// Types `text` into `widget` one character at a time. QTest::keyClicks
// cannot type characters outside Latin-1, so each key event carries its text.
void Type(QWidget* widget, const QString& text) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == u'\n') {
      QTest::keyClick(widget, Qt::Key_Return);
      continue;
    }
    const qsizetype length = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
    QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, text.mid(i, length), Qt::NoModifier);
    i += length - 1;
  }
}

}  // namespace

Q_DECLARE_METATYPE(Trigger)

class Form1Test : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void TitleAndClientArea();
  void ControlsStayInPlace_data();
  void ControlsStayInPlace();
  void StartsEmptyWithFocusInInput();
  void TabCycle_data();
  void TabCycle();
  void Converts_data();
  void Converts();
  void EnterNeverConverts_data();
  void EnterNeverConverts();
  void EditingInputLeavesOutputs();
  void ConvertingAgainReplacesResults();
  void WarningBoxes_data();
  void WarningBoxes();

 private:
  QPlainTextEdit* Box(const char* name) const {
    return form_->findChild<QPlainTextEdit*>(QString::fromLatin1(name));
  }
  QPushButton* ConvertButton() const {
    return form_->findChild<QPushButton*>(QStringLiteral("cmdConvert"));
  }
  QString FocusName() const {
    QWidget* focus = QApplication::focusWidget();
    return focus == nullptr ? QStringLiteral("(none)") : focus->objectName();
  }
  // Replaces the input by typing, as a user would after Ctrl+A.
  void TypeInput(const QString& text) {
    Box("txtBoolean")->setFocus();
    QTest::keyClick(Box("txtBoolean"), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(Box("txtBoolean"), Qt::Key_Delete);
    Type(Box("txtBoolean"), text);
  }
  void RunConvert(Trigger trigger) {
    if (trigger == Trigger::kClick) {
      QTest::mouseClick(ConvertButton(), Qt::LeftButton);
    } else {
      ConvertButton()->setFocus();
      QTest::keyClick(ConvertButton(), Qt::Key_Space);
    }
  }
  // The box's text with only its line breaks normalized; unlike
  // toPlainText() it keeps non-breaking spaces.
  QString Raw(const char* name) const {
    return Box(name)->document()->toRawText().replace(QChar::ParagraphSeparator, u'\n');
  }
  void SetOutputs(const QString& text) {
    Box("txtBool2")->setPlainText(text);
    Box("txtWOSS")->setPlainText(text);
  }

  std::unique_ptr<Form1> form_;
};

void Form1Test::init() {
  form_ = std::make_unique<Form1>();
  form_->show();
  QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
  form_->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(form_.get()));
}

void Form1Test::cleanup() { form_.reset(); }

void Form1Test::TitleAndClientArea() {
  QCOMPARE(form_->windowTitle(), QStringLiteral("Form1"));
  QCOMPARE(form_->size(), QSize(448, 341));
}

void Form1Test::ControlsStayInPlace_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("kind");
  QTest::addColumn<QString>("accessible_name");
  QTest::addColumn<QRect>("geometry");
  QTest::newRow("input") << "txtBoolean"
                         << "QPlainTextEdit"
                         << "Boolean expression" << QRect(15, 17, 417, 84);
  QTest::newRow("operator form") << "txtBool2"
                                 << "QPlainTextEdit"
                                 << "Operator form" << QRect(15, 103, 417, 84);
  QTest::newRow("sign form") << "txtWOSS"
                             << "QPlainTextEdit"
                             << "Sign form" << QRect(15, 198, 417, 84);
  QTest::newRow("button") << "cmdConvert"
                          << "QPushButton"
                          << "" << QRect(177, 297, 102, 32);
}

void Form1Test::ControlsStayInPlace() {
  QFETCH(QString, name);
  QFETCH(QString, kind);
  QFETCH(QString, accessible_name);
  QFETCH(QRect, geometry);
  auto* control = form_->findChild<QWidget*>(name);
  QVERIFY(control != nullptr);
  QVERIFY(control->inherits(kind.toLatin1().constData()));
  if (!accessible_name.isEmpty()) QCOMPARE(control->accessibleName(), accessible_name);
  QCOMPARE(control->geometry(), geometry);

  form_->resize(900, 700);
  QTRY_COMPARE(form_->size(), QSize(900, 700));
  QCOMPARE(control->geometry(), geometry);
}

void Form1Test::StartsEmptyWithFocusInInput() {
  for (const char* name : {"txtBoolean", "txtBool2", "txtWOSS"}) {
    QVERIFY2(Box(name)->toPlainText().isEmpty(), name);
  }
  QCOMPARE(FocusName(), QStringLiteral("txtBoolean"));
  QCOMPARE(ConvertButton()->text(), QStringLiteral("Convert"));

  // The outputs are ordinary editable boxes.
  QTest::mouseClick(Box("txtBool2")->viewport(), Qt::LeftButton);
  Type(Box("txtBool2"), QStringLiteral("x"));
  QCOMPARE(Box("txtBool2")->toPlainText(), QStringLiteral("x"));
}

void Form1Test::TabCycle_data() {
  QTest::addColumn<Qt::Key>("key");
  QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
  QTest::addColumn<QStringList>("focus_order");
  QTest::newRow("Tab") << Qt::Key_Tab << Qt::KeyboardModifiers()
                       << QStringList{"txtWOSS", "cmdConvert", "txtBool2", "txtBoolean"};
  QTest::newRow("Shift+Tab") << Qt::Key_Backtab << Qt::KeyboardModifiers(Qt::ShiftModifier)
                             << QStringList{"txtBool2", "cmdConvert", "txtWOSS", "txtBoolean"};
}

void Form1Test::TabCycle() {
  QFETCH(Qt::Key, key);
  QFETCH(Qt::KeyboardModifiers, modifiers);
  QFETCH(QStringList, focus_order);
  Type(Box("txtBoolean"), QStringLiteral("a b"));
  for (const QString& expected : focus_order) {
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    QCOMPARE(FocusName(), expected);
  }
  // Tab moved the focus and typed nothing.
  QCOMPARE(Box("txtBoolean")->toPlainText(), QStringLiteral("a b"));
  QVERIFY(Box("txtBool2")->toPlainText().isEmpty());
  QVERIFY(Box("txtWOSS")->toPlainText().isEmpty());
}

void Form1Test::Converts_data() {
  QTest::addColumn<QString>("input");
  QTest::addColumn<Trigger>("trigger");
  QTest::addColumn<QString>("operator_form");
  QTest::addColumn<QString>("sign_form");
  QTest::newRow("click") << "a b or c" << Trigger::kClick << "(a AND b or c)"
                         << "(+a +b c)";
  QTest::newRow("space") << "a b or c" << Trigger::kSpace << "(a AND b or c)"
                         << "(+a +b c)";
  QTest::newRow("nested") << "((a b) or (c d)) e" << Trigger::kClick
                          << "(((a AND b) or (c AND d)) AND e)"
                          << "(+((+a +b) (+c +d)) +e)";
  QTest::newRow("not") << "a and not b" << Trigger::kSpace << "(a NOT b)"
                       << "(+a -b)";
  QTest::newRow("non-ASCII") << "été or 東京 𝔘" << Trigger::kClick << "(été or 東京 AND 𝔘)"
                             << "(été 東京 +𝔘)";
  // The input reaches the engine as typed: a non-breaking space joins words.
  QTest::newRow("no-break space") << "a\u00A0b or c" << Trigger::kClick << "(a\u00A0b or c)"
                                  << "(a\u00A0b c)";
  QTest::newRow("line break") << "a\nb or c" << Trigger::kClick << "(a\nb or c)"
                              << "(a\nb c)";
  QTest::newRow("empty") << "" << Trigger::kClick << ""
                         << "";
  QTest::newRow("spaces only") << "   " << Trigger::kSpace << ""
                               << "";
}

void Form1Test::Converts() {
  QFETCH(QString, input);
  QFETCH(Trigger, trigger);
  QFETCH(QString, operator_form);
  QFETCH(QString, sign_form);
  TypeInput(input);
  SetOutputs(QStringLiteral("stale"));
  ModalBoxCloser closer(*form_);
  RunConvert(trigger);
  QVERIFY(closer.seen().empty());
  QCOMPARE(Raw("txtBool2"), operator_form);
  QCOMPARE(Raw("txtWOSS"), sign_form);
  QCOMPARE(Raw("txtBoolean"), input);
}

void Form1Test::EnterNeverConverts_data() {
  QTest::addColumn<QString>("box");
  QTest::addColumn<Qt::Key>("key");
  for (const char* box : {"txtBoolean", "txtBool2", "txtWOSS"}) {
    QTest::addRow("Return in %s", box) << box << Qt::Key_Return;
    QTest::addRow("Enter in %s", box) << box << Qt::Key_Enter;
  }
}

void Form1Test::EnterNeverConverts() {
  QFETCH(QString, box);
  QFETCH(Qt::Key, key);
  Type(Box("txtBoolean"), QStringLiteral("a b or c"));
  auto* focused = form_->findChild<QPlainTextEdit*>(box);
  focused->setFocus();
  focused->moveCursor(QTextCursor::End);
  const QString before = focused->toPlainText();
  QTest::keyClick(focused, key);
  // Enter only started a new line in the box that had the focus.
  QCOMPARE(focused->toPlainText(), before + u'\n');
  for (const char* other : {"txtBoolean", "txtBool2", "txtWOSS"}) {
    if (box == QLatin1String(other)) continue;
    const QString expected = QLatin1String(other) == "txtBoolean" ? "a b or c" : "";
    QCOMPARE(Box(other)->toPlainText(), expected);
  }
}

void Form1Test::EditingInputLeavesOutputs() {
  Type(Box("txtBoolean"), QStringLiteral("a b or c"));
  RunConvert(Trigger::kClick);
  Type(Box("txtBoolean"), QStringLiteral(" d"));
  QTest::keyClick(Box("txtBoolean"), Qt::Key_Backspace);
  QTest::keyClick(Box("txtBoolean"), Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(Box("txtBoolean"), Qt::Key_Delete);
  QVERIFY(Box("txtBoolean")->toPlainText().isEmpty());
  QCOMPARE(Box("txtBool2")->toPlainText(), QStringLiteral("(a AND b or c)"));
  QCOMPARE(Box("txtWOSS")->toPlainText(), QStringLiteral("(+a +b c)"));
}

void Form1Test::ConvertingAgainReplacesResults() {
  Type(Box("txtBoolean"), QStringLiteral("a b or c"));
  RunConvert(Trigger::kClick);
  RunConvert(Trigger::kSpace);
  QCOMPARE(Box("txtBool2")->toPlainText(), QStringLiteral("(a AND b or c)"));
  QCOMPARE(Box("txtWOSS")->toPlainText(), QStringLiteral("(+a +b c)"));

  TypeInput(QStringLiteral("a and not b"));
  RunConvert(Trigger::kClick);
  QCOMPARE(Box("txtBool2")->toPlainText(), QStringLiteral("(a NOT b)"));
  QCOMPARE(Box("txtWOSS")->toPlainText(), QStringLiteral("(+a -b)"));
}

void Form1Test::WarningBoxes_data() {
  QTest::addColumn<QString>("input");
  QTest::addColumn<QString>("text");
  QTest::addColumn<bool>("outputs_written");
  // A ")" that closes no group fails the whole conversion.
  QTest::newRow("unmatched )") << "a)) or ((b"
                               << QString::fromUtf16(boolconv::kUnmatchedCloseDescription) << false;
  // An unpaired quote is only a warning: the group is left as typed.
  QTest::newRow("unpaired quote")
      << "a \"b c"
      << "(GetTokens) Error: Invalid procedure call or argument\r\nLine:  a \"b c " << true;
}

void Form1Test::WarningBoxes() {
  QFETCH(QString, input);
  QFETCH(QString, text);
  QFETCH(bool, outputs_written);
  SetOutputs(QStringLiteral("earlier result"));
  TypeInput(input);
  {
    ModalBoxCloser closer(*form_);
    RunConvert(Trigger::kClick);
    QCOMPARE(closer.seen().size(), size_t{1});
    const SeenBox& box = closer.seen().front();
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.title, QStringLiteral("boolconv"));
    QCOMPARE(box.text, text);
    // The text quotes the user's input, so markup in it must not be rendered.
    QCOMPARE(box.format, Qt::PlainText);
    // The conversion waits for the box: nothing is written while it is open.
    QCOMPARE(box.operator_form_meanwhile, QStringLiteral("earlier result"));
    QCOMPARE(box.sign_form_meanwhile, QStringLiteral("earlier result"));
  }
  if (outputs_written) {
    boolconv::BoolFuncs engine;
    boolconv::Text op;
    boolconv::Text sign;
    boolconv::ScopedWarningHandler quiet(
        [](const boolconv::Text&, const boolconv::Text&, int32_t) {});
    engine.ConvertBoolean(input.toStdU16String(), op, sign);
    QCOMPARE(Box("txtBool2")->toPlainText(), QString::fromStdU16String(op));
    QCOMPARE(Box("txtWOSS")->toPlainText(), QString::fromStdU16String(sign));
  } else {
    QCOMPARE(Box("txtBool2")->toPlainText(), QStringLiteral("earlier result"));
    QCOMPARE(Box("txtWOSS")->toPlainText(), QStringLiteral("earlier result"));
  }
  QCOMPARE(Box("txtBoolean")->toPlainText(), input);

  // The window goes on working after the box.
  TypeInput(QStringLiteral("a b or c"));
  RunConvert(Trigger::kClick);
  QCOMPARE(Box("txtBool2")->toPlainText(), QStringLiteral("(a AND b or c)"));
}

QTEST_MAIN(Form1Test)
#include "form1_test.moc"
