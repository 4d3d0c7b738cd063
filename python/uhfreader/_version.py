"""The package's version: the link API release of libuhfreader it is written against."""

__version__ = "1.2.0"
