// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "windowicon.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPixmap>

namespace {

class SizedIconEngine final : public QIconEngine
{
public:
    explicit SizedIconEngine(QMap<int, QString> files) : m_files(std::move(files)) {}

    QPixmap pixmap(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        if (m_files.isEmpty() || size.isEmpty())
            return QPixmap();
        const int edge = std::max(size.width(), size.height());
        auto it = m_files.lowerBound(edge);
        if (it == m_files.end())
            --it;
        QPixmap &cached = m_decoded[it.key()];
        if (cached.isNull())
            cached.load(it.value());
        // Scaled down, never up (as QIcon does with its own files).
        if (cached.isNull() || (cached.width() <= size.width() && cached.height() <= size.height()))
            return cached;
        return cached.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        painter->drawPixmap(rect, pixmap(rect.size(), mode, state));
    }

    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        if (m_files.isEmpty())
            return QSize();
        const int largest = m_files.lastKey();
        return size.boundedTo(QSize(largest, largest));
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        QList<QSize> sizes;
        for (int edge : m_files.keys())
            sizes.append(QSize(edge, edge));
        return sizes;
    }

    QIconEngine *clone() const override { return new SizedIconEngine(*this); }
    QString key() const override { return QStringLiteral("SizedIconEngine"); }

private:
    QMap<int, QString> m_files;
    QMap<int, QPixmap> m_decoded;
};

} // namespace

QIcon SizedIcon(const QMap<int, QString> &files)
{
    return QIcon(new SizedIconEngine(files));
}

void DescribeApplication()
{
    QApplication::setApplicationName(QStringLiteral("Selmarin"));
    QApplication::setOrganizationName(QStringLiteral("Selmarin"));
    // The menu entry's name, so the desktop matches the windows to it.  The
    // icon comes as PNGs rendered from the SVG: Qt reads SVG only with an
    // extra plugin.
    QApplication::setDesktopFileName(QStringLiteral("io.github.selmarin.Selmarin"));
    QMap<int, QString> icons;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icons.insert(size, QStringLiteral(":/icons/selmarin-%1.png").arg(size));
    QApplication::setWindowIcon(SizedIcon(icons));
}
