"""Python-side support of Cellumo: the Excel object bridge and the editor language services."""
