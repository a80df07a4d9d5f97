// The RTF reader of the online update.
