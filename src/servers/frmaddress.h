#pragma once
// The address list editor window "Addresses".
#include <QDialog>

class FrmAddress : public QDialog
{
    Q_OBJECT
public:
    explicit FrmAddress(QWidget *parent = nullptr);
};
