"""The playground: a local web page with the Monaco editor over the editor services and a Run
button over the bridge, served from the kernel harness's process (`python -m devkit playground`).
"""
