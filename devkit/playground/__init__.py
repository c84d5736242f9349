"""The playground: a local web page with the Monaco editor over the editor services and a Run
button over the bridge (`python -m devkit playground`). The server holds the page, the editor
services and the add-in; scripts run in a kernel process of its own (kernel_main.py).
"""
