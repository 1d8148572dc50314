#include "frmaddress.h"

// Placeholder until the editor lands.
FrmAddress::FrmAddress(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Addresses"));
}
