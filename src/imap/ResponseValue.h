#pragma once

// What the server sends, parsed: the values of a response (atoms, strings, NIL, lists)
// and the response itself (untagged, tagged or a continuation request).

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <vector>

namespace imap {

struct Value
{
    // Numbers are atoms; quoted and literal strings are both String.
    enum class Kind { Atom, String, Nil, List };
    Kind kind = Kind::Nil;
    QByteArray text; // an atom's or a string's bytes
    std::vector<Value> list;

    bool isNil() const { return kind == Kind::Nil; }
    bool isList() const { return kind == Kind::List; }
    // An atom of digits as a number; ok (when given) says whether it was one.
    qint64 number(bool *ok = nullptr) const;
    // The text of a string or atom, a null QByteArray for NIL or a list.
    QByteArray nstring() const;
};

struct Response
{
    enum class Type { Untagged, Tagged, Continuation };
    Type type = Type::Untagged;
    QByteArray tag; // for Tagged

    // Untagged: "* 12 FETCH (...)" gives number 12, name "FETCH", values [the list];
    // "* LIST (\Noselect) "/" name" gives number -1, name "LIST", values [(flags), "/", name].
    // Status responses (OK, NO, BAD, BYE, PREAUTH, tagged or not) have no values but a
    // code, its arguments and text. Names are upper-case.
    qint64 number = -1;
    QByteArray name;
    std::vector<Value> values;

    QByteArray code;             // response code atom, upper-case: "APPENDUID", "ALERT"
    std::vector<Value> codeArgs; // its arguments: APPENDUID 38505 3955 gives two atoms
    QByteArray text;             // the human-readable rest; a continuation's whole text

    // Why an untagged FETCH was left unread (longer or nested deeper than the parser
    // reads), or empty; such a response keeps only its number and name.
    QString unreadable;

    bool isStatus() const; // OK, NO, BAD, BYE or PREAUTH
};

// A FETCH response's data item by name, case-insensitive ("UID", "RFC822.SIZE",
// "BODY[1.2]", "BODY[1.2]<0>"); inside brackets quotes and extra spaces do not count, as
// servers echo HEADER.FIELDS lists in their own way. nullptr when absent.
const Value *fetchItem(const Response &fetch, QByteArrayView itemName);

} // namespace imap
