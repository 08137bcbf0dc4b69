#include "db/column_values.h"

#include "common/failure.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

namespace db::detail {

namespace {

Failure typeMismatch(const QString& driver, const QString& column)
{
    return Failure(RuntimeError::TypeMismatch, driver,
                   RuntimeError::description(RuntimeError::TypeMismatch) + QStringLiteral(" (") + column +
                       QLatin1Char(')'));
}

bool isIntegral(int type)
{
    switch (type) {
    case QMetaType::Int: case QMetaType::UInt: case QMetaType::LongLong: case QMetaType::ULongLong:
    case QMetaType::Short: case QMetaType::UShort: case QMetaType::Long: case QMetaType::ULong:
    case QMetaType::Char: case QMetaType::SChar: case QMetaType::UChar:
        return true;
    default: return false;
    }
}

}  // namespace

QVariant toColumnType(const QVariant& value, const QSqlField& field, const QString& driver)
{
    const QString column = field.name();
    const int target = field.metaType().id();
    if (value.isNull() || !value.isValid())
        return QVariant(field.metaType());
    const int source = value.metaType().id();
    if (isIntegral(target)) {
        if (isIntegral(source) || source == QMetaType::Bool)
            return QVariant(value.toLongLong());
        if (source == QMetaType::Double || source == QMetaType::Float) {
            const double number = value.toDouble();
            if (number != static_cast<double>(static_cast<qlonglong>(number)))
                throw typeMismatch(driver, column);
            return QVariant(static_cast<qlonglong>(number));
        }
        if (source == QMetaType::QString) {
            static const QRegularExpression whole(QStringLiteral("^\\s*[+-]?\\d+\\s*$"));
            const QString text = value.toString();
            if (!whole.match(text).hasMatch())
                throw typeMismatch(driver, column);
            bool ok = false;
            const qlonglong number = text.trimmed().toLongLong(&ok);
            if (!ok)
                throw RuntimeError::failure(RuntimeError::Overflow);
            return QVariant(number);
        }
        throw typeMismatch(driver, column);
    }
    if (target == QMetaType::Double || target == QMetaType::Float) {
        if (isIntegral(source) || source == QMetaType::Double || source == QMetaType::Float)
            return QVariant(value.toDouble());
        if (source == QMetaType::QString) {
            bool ok = false;
            const double number = QLocale::c().toDouble(value.toString().trimmed(), &ok);
            if (!ok)
                throw typeMismatch(driver, column);
            return QVariant(number);
        }
        throw typeMismatch(driver, column);
    }
    if (target == QMetaType::QString) {
        if (source == QMetaType::QByteArray)
            throw typeMismatch(driver, column);  // bytes have no encoding to read them by
        if (source == QMetaType::QDate)
            return QVariant(value.toDate().toString(Qt::ISODate));
        if (!value.canConvert<QString>())
            throw typeMismatch(driver, column);
        return QVariant(value.toString());
    }
    if (target == QMetaType::QByteArray) {
        if (source != QMetaType::QByteArray)
            throw typeMismatch(driver, column);
        return value;
    }
    if (target == QMetaType::QDate) {
        if (source == QMetaType::QDate)
            return value;
        if (source == QMetaType::QDateTime)
            return QVariant(value.toDateTime().date());
        const QDate date = source == QMetaType::QString ? QDate::fromString(value.toString().trimmed(), Qt::ISODate)
                                                        : QDate();
        if (!date.isValid())
            throw typeMismatch(driver, column);
        return QVariant(date);
    }
    return value;  // other column types: the driver converts
}

}  // namespace db::detail
