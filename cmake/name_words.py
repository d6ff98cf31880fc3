#!/usr/bin/python3
"""Keeps the words of a recogniser word list that a meeting window's labels are made of.

usage: name_words.py ALL_WORDS KEPT_WORDS

The decoder of the Latin model prefers readings that are words of its list, and is surer of
them: that is how it reads "Søren" rather than "S0ren", and a label read without the list
falls under the confidence a name needs. But the packaged list has 8.6 million words in 89 MB,
which the engine holds in memory twice while it loads. A label is a name, a nickname or a few
short words, as typed: Capitalised ("Łukasz", "Anne-Marie"), in lower case ("russ", "mute") or
initials ("EM"). Those of them short enough to be a name's part or a common word are kept;
long compounds and inflections, and words in capitals past initials, are left out.
"""
import sys

MAX_CAPITALISED = 12
MAX_LOWER = 6
MAX_CAPITALS = 4


def kept(word):
    if word.isupper():
        return len(word) <= MAX_CAPITALS
    if word[:1].isupper():
        return len(word) <= MAX_CAPITALISED
    return word.islower() and len(word) <= MAX_LOWER


def main():
    source, target = sys.argv[1:3]
    with open(source, encoding="utf-8", errors="replace") as words, \
            open(target, "w", encoding="utf-8") as out:
        for line in words:
            word = line.rstrip("\n")
            if kept(word):
                out.write(word + "\n")


if __name__ == "__main__":
    main()
