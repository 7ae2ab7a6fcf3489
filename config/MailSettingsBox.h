#pragma once

#include "config/Settings.h"

#include <QGroupBox>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

// The settings page's section for alarm mail through an SMTP relay, with a button for a test
// mail whose outcome shows beside it. Only read() hands its values to the record, and only
// when all hold.
class MailSettingsBox : public QGroupBox
{
    Q_OBJECT
public:
    explicit MailSettingsBox(QWidget* parent = nullptr);

    void fill(const Settings& settings);
    // The fields into the mail record of *into; false, *into untouched and *whyNot the
    // operator's reason, when a field cannot stand.
    bool read(Settings* into, QString* whyNot) const;
    // The fields as they stand, judged as if mail were on: what a test mail goes out with.
    bool readForTest(Settings::Mail* mail, QString* whyNot) const;
    void showTestOutcome(const QString& text);

signals:
    void testRequested();

private:
    QString problem() const;
    Settings::Mail fields() const;
    void chooseCaFile();
    void updateEnabled();

    QCheckBox* enabled;
    QLineEdit* url;
    QCheckBox* starttls;
    QLineEdit* tlsCa;
    QPushButton* tlsCaButton;
    QLineEdit* user;
    QLineEdit* password;
    QLineEdit* from;
    QLineEdit* to;
    QSpinBox* groupSeconds;
    QCheckBox* onConfirm;
    QPushButton* testButton;
    QLabel* testOutcome;
};
