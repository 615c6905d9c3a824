// The dialogs' pure pieces: the stored texts, the progress window's placement, the message box
// styles and the dialog unit conversion.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QtTest>
#include <set>

#include "dialog_units.h"
#include "hidden_message.h"
#include "message_box.h"
#include "progress_dlg.h"
#include "resource.h"
#include "stored_texts.h"

class UiPiecesTest : public QObject {
    Q_OBJECT

private slots:
    void unrotateTurnsStoredBytesBack() {
        const std::uint8_t stored[] = {0x0B, 0x13, 0x1B, 0x00};
        QCOMPARE(UnrotateText(stored), std::string("abc"));
        const std::uint8_t empty[] = {0x00};
        QCOMPARE(UnrotateText(empty), std::string());
        const std::uint8_t stopsAtZero[] = {0x0B, 0x00, 0x13, 0x00};
        QCOMPARE(UnrotateText(stopsAtZero), std::string("a"));
    }

    void unrotateMapsEveryNonZeroByteToExactlyOne() {
        std::uint8_t all[256];
        for (int b = 1; b <= 255; ++b) {
            all[b - 1] = static_cast<std::uint8_t>(b);
        }
        all[255] = 0;
        const std::string text = UnrotateText(all);
        QCOMPARE(text.size(), std::size_t{255});
        std::set<unsigned char> seen(text.begin(), text.end());
        QCOMPARE(seen.size(), std::size_t{255});
        QVERIFY(seen.count(0) == 0);
        for (int b = 1; b <= 255; ++b) {
            const auto expected = static_cast<unsigned char>(((b >> 3) | (b << 5)) & 0xFF);
            QCOMPARE(static_cast<unsigned char>(text[static_cast<std::size_t>(b - 1)]), expected);
        }
    }

    void storedTableHoldsFourReadableTextsAndItsTerminator() {
        int entries = 0;
        while (g_storedTexts[entries] != nullptr) {
            const std::string text = UnrotateText(g_storedTexts[entries]);
            QVERIFY2(!text.empty(), "a stored text is empty");
            for (const char c : text) {
                QVERIFY2(c >= 0x20 && c < 0x7F, "a stored text is not printable once unrotated");
            }
            ++entries;
        }
        QCOMPARE(entries, 4);
    }

    void hiddenMessageFollowsEveryTextWithTwoLineBreaks() {
        const std::uint8_t first[] = {0x0B, 0x13, 0x1B, 0x00};  // abc
        const std::uint8_t empty[] = {0x00};
        const std::uint8_t* const table[] = {first, empty, first, nullptr};
        QCOMPARE(HiddenMessageText(table), std::string("abc\n\n\n\nabc\n\n"));

        std::string expected;
        for (int i = 0; i < 4; ++i) {
            expected += UnrotateText(g_storedTexts[i]) + "\n\n";
        }
        QCOMPARE(HiddenMessageText(g_storedTexts), expected);
    }

    void progressWindowCentresByTruncatedHalves_data() {
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("top");
        QTest::addColumn<int>("right");
        QTest::addColumn<int>("bottom");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<QPoint>("expected");
        QTest::newRow("even") << 100 << 100 << 700 << 500 << 280 << 60 << QPoint(260, 270);
        QTest::newRow("odd sum") << 100 << 100 << 701 << 500 << 281 << 60 << QPoint(260, 270);
        QTest::newRow("left of primary")
            << -901 << 0 << 100 << 400 << 280 << 61 << QPoint(-400 - 140, 200 - 30);
        QTest::newRow("above primary")
            << 0 << -501 << 400 << 0 << 100 << 50 << QPoint(200 - 50, -250 - 25);
    }

    void progressWindowCentresByTruncatedHalves() {
        QFETCH(int, left);
        QFETCH(int, top);
        QFETCH(int, right);
        QFETCH(int, bottom);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(QPoint, expected);
        const ScreenRect self{5, 7, 5 + width, 7 + height};
        QCOMPARE(CenteredTopLeft({left, top, right, bottom}, self), expected);
    }

    void stylesMapToButtonsIconAndDefault() {
        const MessageBoxLook failure = LookForStyle(48);
        QCOMPARE(failure.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(failure.icon, QMessageBox::Warning);
        QCOMPARE(failure.defaultButton, QMessageBox::Ok);

        const MessageBoxLook outcome = LookForStyle(64);
        QCOMPARE(outcome.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(outcome.icon, QMessageBox::Information);

        const MessageBoxLook question = LookForStyle(36);
        QCOMPARE(question.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(question.icon, QMessageBox::Question);
        QCOMPARE(question.defaultButton, QMessageBox::Yes);

        const MessageBoxLook warning = LookForStyle(324);
        QCOMPARE(warning.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(warning.icon, QMessageBox::Information);
        QCOMPARE(warning.defaultButton, QMessageBox::No);

        // A second default button where there is only one falls back to the first.
        QCOMPARE(LookForStyle(MB_OK | MB_DEFBUTTON2).defaultButton, QMessageBox::Ok);
    }

    void builtBoxCarriesTheApplicationTitle() {
        QMessageBox box;
        SetUpMessageBox(box, QStringLiteral("Some & text"), 324);
        QCOMPARE(box.windowTitle(), QCoreApplication::applicationName());
        QCOMPARE(box.windowTitle(), QStringLiteral("ui_pieces_test"));
        QCOMPARE(box.text(), QStringLiteral("Some & text"));
        QCOMPARE(box.defaultButton(), box.button(QMessageBox::No));
        QVERIFY(box.isModal());
    }

    void builtBoxKeepsItsOwnLinesWhole() {
        QMessageBox box;
        const QString longLine(60, QLatin1Char('x'));
        SetUpMessageBox(box, "short\n" + longLine + "\nshort", 64);
        const auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        QVERIFY(label != nullptr);
        QVERIFY(label->minimumWidth() >= label->fontMetrics().horizontalAdvance(longLine));
    }

    void runBoxAnswersWithTheClickedButton() {
        int answered = 0;
        QTimer::singleShot(0, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box != nullptr);
            // Enter presses the default button, which is No.
            QTest::keyClick(box, Qt::Key_Return);
            ++answered;
        });
        QCOMPARE(ShowMessageBox(nullptr, QStringLiteral("Go on?"), 324), IDNO);
        QCOMPARE(answered, 1);

        QTimer::singleShot(0, this, [] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box != nullptr);
            box->button(QMessageBox::Yes)->click();
        });
        QCOMPARE(ShowMessageBox(nullptr, QStringLiteral("Go on?"), 36), IDYES);
        QCOMPARE(AnswerForButton(QMessageBox::NoButton), IDCANCEL);
        QCOMPARE(AnswerForButton(QMessageBox::Ok), IDOK);
    }

    void dialogUnitsFollowTheFont() {
        QFont font = QApplication::font();
        font.setPixelSize(12);
        const DialogUnits small(font);
        font.setPixelSize(24);
        const DialogUnits large(font);
        QVERIFY(small.BaseX() > 0);
        QCOMPARE(small.X(4), small.BaseX());
        QCOMPARE(small.Y(8), small.BaseY());
        QCOMPARE(small.Y(16), 2 * small.BaseY());
        // Doubling the font roughly doubles every length.
        QVERIFY(qAbs(large.X(343) - 2 * small.X(343)) <= 343 / 4 + 2);
        QVERIFY(large.Y(236) > small.Y(236) * 3 / 2);
        QCOMPARE(small.Rect(7, 6, 329, 24),
                 QRect(small.X(7), small.Y(6), small.X(329), small.Y(24)));
    }
};

QTEST_MAIN(UiPiecesTest)
#include "ui_pieces_test.moc"
