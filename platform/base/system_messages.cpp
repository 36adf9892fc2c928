#include "platform/base/system_messages.h"

#include "platform/base/cp1251.h"
#include "platform/base/win_status.h"

namespace platform {
namespace {

using namespace literals;

struct Message {
  uint32_t code;
  const char* text;
};

// One row per code of win_status.h that reaches a client; kept in the same order.
constexpr Message kMessages[] = {
    {ERROR_SUCCESS, "Операция успешно завершена."_cp1251},
    {ERROR_FILE_NOT_FOUND, "Не удается найти указанный файл."_cp1251},
    {ERROR_ACCESS_DENIED, "Отказано в доступе."_cp1251},
    {ERROR_NOT_ENOUGH_MEMORY, "Недостаточно памяти для обработки команды."_cp1251},
    {ERROR_READ_FAULT, "Системе не удается прочесть данные с указанного устройства."_cp1251},
    {ERROR_NOT_SUPPORTED, "Такой запрос не поддерживается."_cp1251},
    {ERROR_INVALID_PARAMETER, "Параметр задан неверно."_cp1251},
    {ERROR_MOD_NOT_FOUND, "Не найден указанный модуль."_cp1251},
    {ERROR_FILE_TOO_LARGE, "Размер файла превышает допустимый предел."_cp1251},
    {ERROR_NO_MORE_ITEMS, "Дополнительных данных нет."_cp1251},
    {ERROR_FAILED_SERVICE_CONTROLLER_CONNECT,
     "Процесс службы не может соединиться с контроллером службы."_cp1251},
    {ERROR_CONNECTION_REFUSED, "Удаленный компьютер отклонил это сетевое подключение."_cp1251},
    {HASH_SERVER_BAD_REPLY, "Сервер хеширования не вернул значение хеша."_cp1251},
    {HASH_SERVER_SEND_FAILED, "Не удалось отправить запрос серверу хеширования."_cp1251},
    {WSAHOST_NOT_FOUND, "Этот узел неизвестен."_cp1251},
    {WSATRY_AGAIN, "Временная ошибка при разрешении имени узла. Повторите попытку позже."_cp1251},
    {ERROR_INTERNET_TIMEOUT, "Время ожидания операции истекло."_cp1251},
    {ERROR_INTERNET_INVALID_URL, "Недопустимый URL-адрес."_cp1251},
    {ERROR_INTERNET_UNRECOGNIZED_SCHEME, "Не удалось распознать протокол URL-адреса."_cp1251},
    {ERROR_INTERNET_NAME_NOT_RESOLVED, "Не удается разрешить имя или адрес сервера."_cp1251},
    {ERROR_INTERNET_OPERATION_CANCELLED, "Операция отменена."_cp1251},
    {ERROR_INTERNET_CANNOT_CONNECT, "Не удалось установить соединение с сервером."_cp1251},
    {ERROR_INTERNET_CONNECTION_ABORTED, "Подключение к серверу было прервано."_cp1251},
    {ERROR_HTTP_INVALID_SERVER_RESPONSE, "Сервер вернул недопустимый ответ."_cp1251},
    {E_FAIL, "Неопознанная ошибка."_cp1251},
    {NTE_BAD_SIGNATURE, "Неправильная подпись."_cp1251},
    {NTE_BAD_ALGID, "Указан неправильный алгоритм."_cp1251},
    {NTE_BAD_KEYSET, "Набор ключей не существует."_cp1251},
    {NTE_KEYSET_NOT_DEF, "Набор ключей не определен."_cp1251},
    {NTE_FAIL, "Внутренняя ошибка."_cp1251},
    {SEC_E_CONTEXT_EXPIRED, "Истек срок действия закрытого ключа сертификата."_cp1251},
    {CRYPT_E_INVALID_MSG_TYPE, "Недопустимый тип криптографического сообщения."_cp1251},
    {CRYPT_E_HASH_VALUE, "Значение хеша неверно."_cp1251},
    {CRYPT_E_SIGNER_NOT_FOUND, "Не удается найти подписавшего."_cp1251},
    {CRYPT_E_NOT_FOUND, "Объект или свойство не найдены."_cp1251},
    {CRYPT_E_EXISTS, "Объект или свойство уже существует."_cp1251},
    {CRYPT_E_NO_MATCH, "Не удается найти запрошенный объект."_cp1251},
    {CRYPT_E_UNEXPECTED_MSG_TYPE, "Неожиданный тип криптографического сообщения."_cp1251},
    {CRYPT_E_NO_SIGNER, "Подписывающий сообщение не найден."_cp1251},
    {CRYPT_E_ASN1_EOD, "ASN1: непредвиденный конец данных."_cp1251},
    {CRYPT_E_ASN1_BADTAG, "ASN1: неверный тег."_cp1251},
    {KEY_USAGE_NOT_ALLOWED,
     "Сертификат не допускает ни одного из заданных вариантов использования ключа."_cp1251},
};

}  // namespace

std::string SystemMessage(uint32_t code) {
  // An HRESULT made from a Win32 code (0x8007xxxx) has that code's text.
  if ((code & 0xFFFF0000u) == 0x80070000u) code &= 0xFFFFu;
  for (const Message& message : kMessages) {
    if (message.code == code) return message.text;
  }
  return {};
}

}  // namespace platform
