#pragma once
// The serial port selection window: the system's ports in a drop-down list whose pick is
// written straight into the linked port. ShowModal gives mrOk (Ok) or mrCancel (Cancel).
#include <memory>

#include "framework/forms/form.h"
#include "ui/CPortCtl.h"

class TCustomComPort;

const TFormDesc& frmUsrSerialDesc();

class TfrmUsrSerial {
    std::unique_ptr<TForm> FForm; // first: the controls below are its

public:
    // Reads the port list; raises EComPort 23 when the system's list cannot be read.
    explicit TfrmUsrSerial(TForm* owner = nullptr);

    TForm& Form() const { return *FForm; }
    // Links the list to port: its current name becomes the selection (none when unlisted).
    void SetComPort(TCustomComPort* port);

    TLabel& lblSerial;
    TComComboBox ComComboBoxPort;
    TButton& btnOk;
    TButton& btnCancel;

private:
    void FormCreate();
    // Each showing reads the port list again, so adapters plugged in since appear.
    void FormShow();
};
