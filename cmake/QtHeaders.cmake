# SPDX-FileCopyrightText: 2026 The Selmarin developers
# SPDX-License-Identifier: GPL-3.0-or-later

# selmarin_qt_headers(<target> HEADERS <headers...> [SHARED_WITH <targets...>])
#
# Precompiles the Qt headers most files of <target> include, and lets the
# targets of SHARED_WITH use that same precompiled header.  Reading Qt's
# headers is most of the time a compile takes here (a test file that includes
# <QtTest> reads all of QtCore), and every file reads the same ones: with the
# headers read once per level of Qt, a build from scratch takes about half the
# processor time.  Every target compiles with the same flags (selmarin_options
# and Qt's), which a shared precompiled header needs.
#
# A level holds the headers of the Qt modules all its targets link, and no
# others: a library that does not link QtWidgets still fails to build when it
# uses a widget.  Since every file sees its level's headers, a file that
# leaves out an include of one of them still builds; configuring with
# -DCMAKE_DISABLE_PRECOMPILE_HEADERS=ON builds without them, and so checks
# that every file includes what it uses.
function(selmarin_qt_headers target)
    cmake_parse_arguments(ARG "" "" "HEADERS;SHARED_WITH" ${ARGN})
    target_precompile_headers(${target} PRIVATE ${ARG_HEADERS})
    foreach(user IN LISTS ARG_SHARED_WITH)
        target_precompile_headers(${user} REUSE_FROM ${target})
    endforeach()
endfunction()

# What nearly every file uses, whatever else it links.
set(SELMARIN_QT_CORE_HEADERS
    <QByteArray> <QDateTime> <QDir> <QElapsedTimer> <QFile> <QHash> <QList> <QMap> <QObject>
    <QRegularExpression> <QString> <QStringList> <QTimer>
    <algorithm> <functional> <memory> <optional> <utility> <vector>)
set(SELMARIN_QT_NETWORK_HEADERS
    ${SELMARIN_QT_CORE_HEADERS} <QHostAddress> <QSslSocket> <QTcpServer> <QTcpSocket> <QUdpSocket>)
set(SELMARIN_QT_WIDGETS_HEADERS
    ${SELMARIN_QT_CORE_HEADERS} <QApplication> <QComboBox> <QLabel> <QLineEdit> <QPainter>
    <QPlainTextEdit> <QPushButton> <QWidget>)
