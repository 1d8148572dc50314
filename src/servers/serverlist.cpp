#include "serverlist.h"

#include "startup/failure.h"

QString ServerList::Item(qsizetype position) const
{
    if (position < 1 || position > m_items.size())
        Raise(rt::SubscriptOutOfRange);
    return m_items.at(position - 1);
}

void ServerList::Remove(qsizetype position)
{
    if (position < 1 || position > m_items.size())
        Raise(rt::SubscriptOutOfRange);
    m_items.removeAt(position - 1);
}
