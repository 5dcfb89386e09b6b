"""The exception the native module raises; defined here so that it pickles
and prints as any Python exception does."""

from __future__ import annotations


class ConversionError(ValueError):
    """An expression that cannot be converted.

    ``code`` is the error's number: 1001 for a ")" with no "(" before it,
    1002 for bytes that are not valid UTF-8 or a str holding a lone
    surrogate. ``str(error)`` is the library's message, and ``warnings``
    holds the tokenizer's warnings given before the failure.
    """

    def __init__(self, message: str, code: int, warnings: tuple[str, ...] = ()) -> None:
        super().__init__(message, code, tuple(warnings))
        self.message = message
        self.code = code
        self.warnings = tuple(warnings)

    def __str__(self) -> str:
        return self.message

    def __repr__(self) -> str:
        return f"ConversionError({self.message!r}, code={self.code})"
