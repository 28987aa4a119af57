#include "ui/usrserial.h"

#include "serial/serial_platform.h"
#include "ui/CPortCtl.h"
#include "ui/errordisplay.h"
#include "ui/formutil.h"

#include <QLabel>
#include <QPushButton>
#include <QShowEvent>

TfrmUsrSerial::TfrmUsrSerial(QWidget* parent) : QDialog(parent, FixedDialogFlags(true))
{
    setObjectName(QStringLiteral("frmUsrSerial"));
    setFont(FormFont());
    setFixedSize(253, 108);

    lblSerial = new QLabel(QStringLiteral("Select the PC serial port to program with:"), this);
    lblSerial->setObjectName(QStringLiteral("lblSerial"));
    lblSerial->move(8, 16);
    lblSerial->adjustSize();

    ComComboBoxPort = new TComComboBox(this);
    ComComboBoxPort->setObjectName(QStringLiteral("ComComboBoxPort"));
    ComComboBoxPort->setGeometry(8, 32, 153, 21);
    ComComboBoxPort->SetComProperty(cpPort);
    ComComboBoxPort->SetAutoApply(true);
    ComComboBoxPort->SetText(ListedPortName("COM1"));
    if (ComComboBoxPort->count() > 0)
        ComComboBoxPort->setCurrentIndex(0);

    btnOk = new QPushButton(QStringLiteral("Ok"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setGeometry(8, 72, 75, 25);
    btnOk->setDefault(true);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);

    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(88, 72, 75, 25);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    setTabOrder(ComComboBoxPort, btnOk);
    setTabOrder(btnOk, btnCancel);
    FormCreate();
}

void TfrmUsrSerial::FormCreate()
{
    setWindowTitle(QStringLiteral("Select Serial Port"));
}

void TfrmUsrSerial::SetComPort(TCustomComPort* port)
{
    ComComboBoxPort->SetComPort(port);
}

void TfrmUsrSerial::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        GuardedCall([this] { ComComboBoxPort->RefreshList(); });
        CenterOnMainForm(this);
        ComComboBoxPort->setFocus();
    }
    QDialog::showEvent(event);
}
