"""The report of a Query (/A:Q), read into its fields: one "Key=value" a line."""


def read_report(text, keys=None):
    """The report's fields by key; only those of keys, when given."""
    fields = {}
    for line in text.replace("\r\n", "\n").split("\n"):
        key, sep, value = line.partition("=")
        if sep and (keys is None or key in keys):
            fields[key] = value
    return fields
