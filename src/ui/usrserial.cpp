#include "ui/usrserial.h"

#include "framework/forms/application.h"
#include "serial/serial_platform.h"

const TFormDesc& frmUsrSerialDesc()
{
    static const TFormDesc desc = [] {
        TFormDesc d;
        d.Name = "frmUsrSerial";
        d.ClientWidth = 253;
        d.ClientHeight = 108;
        d.Controls = {
            {.Kind = TControlKind::Label,
             .Name = "lblSerial",
             .Bounds = {8, 16, 191, 13},
             .Caption = "Select the PC serial port to program with:",
             .AutoSize = true},
            {.Kind = TControlKind::ComboBox, .Name = "ComComboBoxPort", .Bounds = {8, 32, 153, 21}},
            {.Kind = TControlKind::Button,
             .Name = "btnOk",
             .Bounds = {8, 72, 75, 25},
             .Caption = "Ok",
             .ModalResult = mrOk,
             .Default = true},
            {.Kind = TControlKind::Button,
             .Name = "btnCancel",
             .Bounds = {88, 72, 75, 25},
             .Caption = "Cancel",
             .ModalResult = mrCancel,
             .Cancel = true},
        };
        return d;
    }();
    return desc;
}

TfrmUsrSerial::TfrmUsrSerial(TForm* owner)
    : FForm(TForm::Create(frmUsrSerialDesc(), owner)), lblSerial(FForm->Get<TLabel>("lblSerial")),
      ComComboBoxPort(FForm->Get<TComboBox>("ComComboBoxPort")), btnOk(FForm->Get<TButton>("btnOk")),
      btnCancel(FForm->Get<TButton>("btnCancel"))
{
    // The combo box's settings as its form description gives them, in that order.
    ComComboBoxPort.SetComProperty(cpPort);
    ComComboBoxPort.SetAutoApply(true);
    ComComboBoxPort.SetText(ListedPortName("COM1"));
    if (ComComboBoxPort.Box().Count() > 0)
        ComComboBoxPort.Box().SetItemIndex(0);
    FForm->OnShow = [this] { FormShow(); };
    FormCreate();
}

void TfrmUsrSerial::FormCreate()
{
    FForm->SetCaption("Select Serial Port");
}

void TfrmUsrSerial::FormShow()
{
    ComComboBoxPort.RefreshList();
}

void TfrmUsrSerial::SetComPort(TCustomComPort* port)
{
    ComComboBoxPort.SetComPort(port);
}
